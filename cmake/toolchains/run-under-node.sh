#!/bin/sh
# Runs a program built for WebAssembly (its .js launcher) under Node.js.
# Node 20's own fetch makes Emscripten 3.1.6's loader fail to read the .wasm
# beside the launcher ("Failed to parse URL"); without it the loader reads
# the file directly.
exec node --no-experimental-fetch "$@"
