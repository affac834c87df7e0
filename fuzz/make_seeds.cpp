// Writes the fuzzers' seed corpus: real saves of small object graphs and class fields, in both codings.
//
//   sl_fuzz_seeds DIR   writes DIR/text/NAME and DIR/binary/NAME
//
// Files named seed-* hold one complete object reference each; body-* hold
// only the fields of one class, as its Save writes them.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "3d/bitmap/bitmap.h"
#include "base/sl/archive.h"
#include "base/sl/kav_sl.h"
#include "base/sl/memory_stream.h"
#include "base/sl/object_graph.h"
#include "base/sl/ref_carry.h"

namespace {

using namespace KavV3Base;
namespace fs = std::filesystem;

struct TSeedWriter {
  fs::path dir;
  int failures = 0;

  void Write(const std::string& name, std::int32_t coding, const std::vector<unsigned char>& bytes) {
    const fs::path folder = dir / (coding == TSLArchive::CodingText ? "text" : "binary");
    fs::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) ++failures;
  }

  // One reference to root, as SLSaveObject writes it.
  void Graph(const std::string& name, TKavSLRoot* root) {
    for (const std::int32_t coding : {TSLArchive::CodingText, TSLArchive::CodingBinary}) {
      TMemoryStream stream;
      TSLArchive archive(&stream, coding);
      if (!SLSaveObject(archive, &root)) ++failures;
      Write("seed-" + name, coding, stream.Bytes());
    }
  }

  // The fields of obj alone, as its save phases write them.
  void Body(const std::string& name, TKavSLRoot* obj) {
    for (const std::int32_t coding : {TSLArchive::CodingText, TSLArchive::CodingBinary}) {
      TMemoryStream stream;
      TSLArchive archive(&stream, coding);
      obj->SavePre(archive);
      obj->Save(archive);
      obj->SavePost(archive);
      if (archive.Failed()) ++failures;
      Write("body-" + name, coding, stream.Bytes());
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  TSeedWriter seeds{fs::path(argv[1])};

  seeds.Graph("null", nullptr);
  TKavSL plain;
  seeds.Graph("plain", &plain);

  TSLRefCarry a;
  TSLRefCarry b;
  a.reference = &b;
  seeds.Graph("two-carriers", &a);

  TSLRefCarry self;
  self.reference = &self;
  seeds.Graph("self-reference", &self);

  TSLRefCarry c1;
  TSLRefCarry c2;
  TSLRefCarry c3;
  c1.reference = &c2;
  c2.reference = &c3;
  c3.reference = &c1;
  seeds.Graph("cycle", &c1);
  seeds.Body("carrier", &c1);

  KavV33D::TBitmap bitmap;
  bitmap.Create(2, 1, 32);
  for (std::uint32_t i = 0; i < bitmap.GetStorageSize(); ++i) bitmap.GetBits()[i] = static_cast<unsigned char>(i * 51);
  seeds.Graph("bitmap", &bitmap);
  seeds.Body("bitmap", &bitmap);
  KavV33D::TBitmap small;
  small.Create(3, 2, 16);
  for (std::uint32_t i = 0; i < small.GetStorageSize(); ++i) small.GetBits()[i] = static_cast<unsigned char>(255 - i);
  TSLRefCarry holder;
  holder.reference = &small;
  seeds.Graph("carrier-of-bitmap", &holder);
  KavV33D::TBitmap empty;
  seeds.Graph("empty-bitmap", &empty);
  KavV33D::TVBitmap abstractBitmap;
  seeds.Graph("bitmap-interface", &abstractBitmap);

  return seeds.failures == 0 ? 0 : 1;
}
