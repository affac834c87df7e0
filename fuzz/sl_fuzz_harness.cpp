#include "fuzz/sl_fuzz_harness.h"

#include <cstdint>
#include <vector>

#include "base/sl/archive.h"
#include "base/sl/class_registry.h"
#include "base/sl/kav_sl.h"
#include "base/sl/memory_stream.h"
#include "base/sl/object_graph.h"
#include "base/sl/ref_carry.h"
#include "base/util/change_notification.h"
#include "base/util/tree.h"

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

// What the objects an archive has loaded so far hold of each other: for
// every tree its parent and ring neighbours and its children, for every
// checker its carrier and whether it is linked, for every carrier its
// reference and count, for every changable its checkers. A failed load must
// leave all of it as it was.
std::vector<std::uintptr_t> Snapshot(const TSLArchive& archive) {
  std::vector<std::uintptr_t> state;
  auto put = [&](const void* p) { state.push_back(reinterpret_cast<std::uintptr_t>(p)); };
  for (std::size_t i = 0; i < archive.LoadedObjectCount(); ++i) {
    TKavSLRoot* obj = archive.LoadedObject(i);
    put(obj);
    if (auto* tree = dynamic_cast<TTree*>(obj)) {
      put(tree->GetParent());
      put(tree->GetNext());
      put(tree->GetPrev());
      for (const TTree* child = tree->GetFirstChild(); child != nullptr; child = child->GetNextSibling()) put(child);
    } else if (auto* checker = dynamic_cast<TChangeChecker*>(obj)) {
      put(checker->GetCarrier());
      state.push_back(checker->IsLinked() ? 1 : 0);
      state.push_back(checker->GetPendingIdentity());
    } else if (auto* carrier = dynamic_cast<TSLRefCarry*>(obj)) {
      put(carrier->reference);
      state.push_back(static_cast<std::uint32_t>(carrier->count));
    } else if (auto* changable = dynamic_cast<TChangable*>(obj)) {
      for (const TChangeChecker* linked : changable->GetCheckers()) put(linked);
    }
  }
  return state;
}

// The ownership rules among the objects an archive has loaded (nothing else
// holds them): a carrier's count is the number of checkers holding it; a
// changable lists exactly the linked checkers whose carrier refers to it; a
// tree's children name it as their parent, and a tree with a parent is among
// that parent's children.
const char* CheckOwnership(const TSLArchive& archive) {
  std::vector<TSLRefCarry*> carriers;
  std::vector<TChangeChecker*> checkers;
  for (std::size_t i = 0; i < archive.LoadedObjectCount(); ++i) {
    TKavSLRoot* obj = archive.LoadedObject(i);
    if (auto* carrier = dynamic_cast<TSLRefCarry*>(obj)) carriers.push_back(carrier);
    if (auto* checker = dynamic_cast<TChangeChecker*>(obj)) checkers.push_back(checker);
  }
  for (const TSLRefCarry* carrier : carriers) {
    std::int32_t holders = 0;
    for (const TChangeChecker* checker : checkers) holders += checker->GetCarrier() == carrier ? 1 : 0;
    if (carrier->count != holders) return "a carrier's count differs from the checkers holding it";
  }
  for (std::size_t i = 0; i < archive.LoadedObjectCount(); ++i) {
    TKavSLRoot* obj = archive.LoadedObject(i);
    if (auto* changable = dynamic_cast<TChangable*>(obj)) {
      std::size_t listed = 0;
      for (const TChangeChecker* linked : changable->GetCheckers()) {
        ++listed;
        if (!linked->IsLinked() || linked->GetCarrier() == nullptr || linked->GetCarrier()->reference != changable)
          return "a changable lists a checker that does not watch it";
      }
      std::size_t watching = 0;
      for (const TChangeChecker* checker : checkers)
        if (checker->IsLinked() && checker->GetCarrier() != nullptr && checker->GetCarrier()->reference == changable)
          ++watching;
      if (listed != watching) return "a linked checker is missing from its changable's list";
    } else if (auto* tree = dynamic_cast<TTree*>(obj)) {
      for (const TTree* child = tree->GetFirstChild(); child != nullptr; child = child->GetNextSibling())
        if (child->GetParent() != tree) return "a tree's child names another parent";
      if (const TTree* parent = tree->GetParent()) {
        bool found = false;
        for (const TTree* child = parent->GetFirstChild(); child != nullptr && !found; child = child->GetNextSibling())
          found = child == tree;
        if (!found) return "a tree is missing from its parent's children";
      }
    }
  }
  return nullptr;
}

// Loads the bytes as a sequence of inline references into one archive and
// keeps every object that loaded. The failed load that ends the sequence must
// leave the earlier objects exactly as they were, and the ownership rules
// must hold after every load; then everything is freed through the archive
// (the sanitizers see anything freed twice or left behind).
const char* LoadInlineSequence(const std::uint8_t* data, std::size_t size, std::int32_t coding) {
  TMemoryStream stream(data, size);
  TSLArchive archive(&stream, coding);
  const char* problem = nullptr;
  while (problem == nullptr && static_cast<std::size_t>(stream.Tell()) < size) {
    const std::size_t before = archive.LoadedObjectCount();
    const std::vector<std::uintptr_t> earlier = Snapshot(archive);
    TKavSLRoot* root = nullptr;
    const bool loaded = SLLoadObject(archive, &root);
    if (!loaded) {
      if (root != nullptr || archive.LoadedObjectCount() != before)
        problem = "a failed load left objects behind";
      else if (Snapshot(archive) != earlier)
        problem = "a failed load changed objects of an earlier load";
    }
    if (problem == nullptr) problem = CheckOwnership(archive);
    if (!loaded) break;  // the archive has failed: nothing more loads
  }
  archive.DiscardLoadedObjects();
  return problem;
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

  const char* inlineProblem = LoadInlineSequence(data, size, coding);
  if (result.problem == nullptr) result.problem = inlineProblem;
  const char* identityProblem = LoadIdentitySequence(data, size, coding);
  if (result.problem == nullptr) result.problem = identityProblem;
  return result;
}

}  // namespace KavFuzz
