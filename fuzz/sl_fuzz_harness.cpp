#include "fuzz/sl_fuzz_harness.h"

#include <vector>

#include "base/sl/archive.h"
#include "base/sl/class_registry.h"
#include "base/sl/kav_sl.h"
#include "base/sl/memory_stream.h"
#include "base/sl/object_graph.h"
#include "base/util/change_notification.h"

namespace KavFuzz {

namespace {

using namespace KavV3Base;

// Saves the graph at root, loads the bytes back and saves the copy: both
// saves must agree byte for byte, and the load must use every byte.
const char* CheckRoundTrip(TKavSLRoot* root, std::int32_t coding) {
  TMemoryStream first;
  TSLArchive saving(&first, coding);
  // Graphs that hold a bare root have no class name for it: refused, fine.
  if (!SLSaveObject(saving, &root)) return nullptr;

  TMemoryStream in(first.Bytes());
  TSLArchive loading(&in, coding);
  TKavSLRoot* copy = nullptr;
  const char* problem = nullptr;
  if (!SLLoadObject(loading, &copy)) {
    problem = "a saved graph does not load back";
  } else if (static_cast<std::size_t>(in.Tell()) != first.Bytes().size()) {
    problem = "loading a saved graph leaves bytes unread";
  } else {
    TMemoryStream second;
    TSLArchive again(&second, coding);
    if (!SLSaveObject(again, &copy) || second.Bytes() != first.Bytes()) problem = "a reloaded graph saves differently";
  }
  loading.DiscardLoadedObjects();
  return problem;
}

// Loads the bytes as a sequence of references in an archive whose change
// checkers name their carriers by identity only, resolves every checker once
// the sequence ends, then frees everything through the archive.
const char* LoadIdentitySequence(const std::uint8_t* data, std::size_t size, std::int32_t coding) {
  TMemoryStream stream(data, size);
  TSLArchive archive(&stream, coding, TSLArchive::ReferenceIdentity);
  // Every reference read takes at least one byte.
  while (static_cast<std::size_t>(stream.Tell()) < size) {
    const std::size_t before = archive.LoadedObjectCount();
    TKavSLRoot* root = nullptr;
    if (!SLLoadObject(archive, &root)) {
      if (root != nullptr || archive.LoadedObjectCount() != before) return "a failed load left objects behind";
      break;
    }
  }
  for (std::size_t i = 0; i < archive.LoadedObjectCount(); ++i)
    if (auto* checker = dynamic_cast<TChangeChecker*>(archive.LoadedObject(i))) static_cast<void>(checker->Resolve(archive));
  archive.DiscardLoadedObjects();
  return nullptr;
}

}  // namespace

TFuzzResult LoadArchiveBytes(const std::uint8_t* data, std::size_t size, std::int32_t coding) {
  TFuzzResult result;

  {
    TMemoryStream stream(data, size);
    TSLArchive archive(&stream, coding);
    TKavSLRoot* root = nullptr;
    if (SLLoadObject(archive, &root)) {
      result.loadedAsReference = true;
      result.problem = CheckRoundTrip(root, coding);
      archive.DiscardLoadedObjects();
    } else if (root != nullptr || archive.LoadedObjectCount() != 0) {
      result.problem = "a failed load left objects behind";
    }
  }

  const TKavSLRegister* registry = TKavSLRegister::Instance();
  for (std::int32_t id = 1; id < registry->GetNextId(); ++id) {
    const TSLClassRecord* record = registry->FindById(id);
    if (record == nullptr || record->Factory == nullptr) continue;
    TKavSLRoot* obj = record->Factory();
    if (obj == nullptr) continue;
    TMemoryStream stream(data, size);
    TSLArchive archive(&stream, coding);
    obj->LoadPre(archive);
    if (!archive.Failed()) obj->Load(archive);
    if (!archive.Failed()) obj->LoadPost(archive);
    if (!archive.Failed() && result.problem == nullptr) result.problem = CheckRoundTrip(obj, coding);
    // The object was not created by the archive: it lets go of what the
    // archive created before the archive frees that.
    obj->SLDiscardLinks();
    archive.DiscardLoadedObjects();
    delete obj;
  }

  const char* identityProblem = LoadIdentitySequence(data, size, coding);
  if (result.problem == nullptr) result.problem = identityProblem;
  return result;
}

}  // namespace KavFuzz
