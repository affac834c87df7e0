#include "fuzz/sl_fuzz_harness.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "base/sl/archive.h"
#include "base/sl/class_registry.h"
#include "base/sl/kav_sl.h"
#include "base/sl/object_graph.h"
#include "base/sl/ref_carry.h"
#include "base/stream/memory_stream.h"
#include "base/util/change_notification.h"
#include "base/util/tree.h"

namespace KavFuzz {

namespace {

using namespace KavV3Base;

// Work per input is capped where it would otherwise grow with the square of
// the input: the loads of a sequence after the first one stop once this many
// have been made, or once the objects kept from earlier loads outnumber
// kMaxKeptObjects (every load checks all kept objects again). The first load
// of a sequence is never capped.
constexpr std::size_t kMaxSequenceLoads = 256;
constexpr std::size_t kMaxKeptObjects = 64;

// Byte strings whose round trip has been checked already. A loaded graph
// depends on nothing but the bytes its load consumed (and the class it was
// loaded into), and loading a saved image and saving it again on nothing
// but the image, so a graph met again from the same bytes, or one that
// saves to an image met before, needs no second check. Direct-mapped by
// hash: the newest key of each slot is kept, and keys are compared in full.
class TCheckedBytes {
public:
    // kind tells keys of different meaning apart (coding, class, image or input).
    // FNV-1a over 8-byte words (fewer steps through instrumented code), then
    // over the bytes left.
    static std::uint64_t Hash(std::int32_t kind, const unsigned char* bytes, std::size_t count) {
        constexpr std::uint64_t kPrime = 0x100000001b3u;
        std::uint64_t hash = (0xcbf29ce484222325u ^ static_cast<std::uint32_t>(kind)) * kPrime;
        std::size_t i = 0;
        for (; i + 8 <= count; i += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes + i, 8);
            hash = (hash ^ word) * kPrime;
            hash ^= hash >> 29;
        }
        for (; i < count; ++i) hash = (hash ^ bytes[i]) * kPrime;
        return hash ^ count;
    }
    bool Contains(std::uint64_t hash, std::int32_t kind, const unsigned char* bytes,
                  std::size_t count) const {
        const TEntry& entry = slots[hash % kSlots];
        return entry.used && entry.hash == hash && entry.kind == kind && entry.bytes.size() == count &&
               (count == 0 || std::memcmp(entry.bytes.data(), bytes, count) == 0);
    }
    void Add(std::uint64_t hash, std::int32_t kind, const unsigned char* bytes, std::size_t count) {
        TEntry& entry = slots[hash % kSlots];
        entry.used = true;
        entry.hash = hash;
        entry.kind = kind;
        entry.bytes.assign(bytes, bytes + count);
    }

private:
    static constexpr std::size_t kSlots = 1024;
    struct TEntry {
        bool used = false;
        std::int32_t kind = 0;
        std::uint64_t hash = 0;
        std::vector<unsigned char> bytes;
    };
    std::vector<TEntry> slots = MakeSlots();

    // Every slot starts with room for a short key, so that most first uses of
    // a slot allocate nothing: an input after which more blocks are allocated
    // than freed makes libFuzzer run it again and look for leaks.
    static std::vector<TEntry> MakeSlots() {
        std::vector<TEntry> made(kSlots);
        for (TEntry& entry : made) entry.bytes.reserve(128);
        return made;
    }
};

// What one input's checks need besides the archives, kept from one input to
// the next, so that once the buffers have grown to the inputs' size they are
// only refilled. One harness call at a time (libFuzzer and the replay test
// both call from one thread).
struct TScratch {
    TMemoryStream input;  // the bytes under test, reread from 0 by every load
    TMemoryStream image;  // a saved graph, then the stream its copy loads from
    TMemoryStream again;  // the copy saved again
    TCheckedBytes checked;
    std::vector<std::uintptr_t> before;  // Snapshot ahead of a load
    std::vector<std::uintptr_t> after;   // and after it failed
    // CheckOwnership's sorted lists.
    std::vector<const TSLRefCarry*> held;   // the carrier of every checker that holds one
    std::vector<const TKavSL*> watched;     // what every linked checker's carrier refers to
    std::vector<const TKavSLRoot*> loaded;  // every loaded object
    std::vector<std::pair<const TTree*, const TTree*>>
        listed;  // (child, tree listing it) for every loaded tree
};

TScratch& Scratch() {
    static TScratch scratch;
    return scratch;
}

// Keys of TCheckedBytes: an image, or the input bytes consumed by a load of
// one reference (kInput) or into an object of class id (kInput + id).
constexpr std::int32_t kImage = 0;
constexpr std::int32_t kInput = 1;

// Saves the graph at root, loads the bytes back and saves the copy: both
// saves must agree byte for byte, and the load must use every byte. The
// graph was loaded from the input's first `consumed` bytes, as kind says.
const char* CheckRoundTrip(TKavSLRoot* root, std::int32_t coding, std::int32_t kind,
                           const TMemoryStream& input, std::size_t consumed) {
    TScratch& scratch = Scratch();
    kind = 2 * kind + coding;
    const std::uint64_t loadedHash = TCheckedBytes::Hash(kind, input.Bytes().data(), consumed);
    if (scratch.checked.Contains(loadedHash, kind, input.Bytes().data(), consumed)) return nullptr;

    TMemoryStream& image = scratch.image;
    image.Clear();
    {
        TSLArchive saving(&image, coding);
        // Graphs that hold a bare root have no class name for it: refused, fine.
        if (!SLSaveObject(saving, &root)) return nullptr;
    }
    const std::int32_t imageKind = 2 * kImage + coding;
    const std::uint64_t imageHash =
        TCheckedBytes::Hash(imageKind, image.Bytes().data(), image.Bytes().size());
    const char* problem = nullptr;
    if (!scratch.checked.Contains(imageHash, imageKind, image.Bytes().data(), image.Bytes().size())) {
        static_cast<void>(image.Seek(0));
        TSLArchive loading(&image, coding);
        TKavSLRoot* copy = nullptr;
        if (!SLLoadObject(loading, &copy)) {
            problem = "a saved graph does not load back";
        } else if (static_cast<std::size_t>(image.Tell()) != image.Bytes().size()) {
            problem = "loading a saved graph leaves bytes unread";
        } else {
            TMemoryStream& again = scratch.again;
            again.Clear();
            TSLArchive saving(&again, coding);
            if (!SLSaveObject(saving, &copy) || again.Bytes() != image.Bytes())
                problem = "a reloaded graph saves differently";
        }
        loading.DiscardLoadedObjects();
        if (problem != nullptr) return problem;
        scratch.checked.Add(imageHash, imageKind, image.Bytes().data(), image.Bytes().size());
    }
    scratch.checked.Add(loadedHash, kind, input.Bytes().data(), consumed);
    return nullptr;
}

// Loads the input as a sequence of references in an archive whose change
// checkers name their carriers by identity only, resolves every checker once
// the sequence ends, then frees everything through the archive.
const char* LoadIdentitySequence(TMemoryStream& input, std::int32_t coding) {
    static_cast<void>(input.Seek(0));
    const std::size_t size = input.Bytes().size();
    TSLArchive archive(&input, coding, TSLArchive::ReferenceIdentity);
    // Every reference read takes at least one byte.
    while (static_cast<std::size_t>(input.Tell()) < size) {
        const std::size_t before = archive.LoadedObjectCount();
        TKavSLRoot* root = nullptr;
        if (!SLLoadObject(archive, &root)) {
            if (root != nullptr || archive.LoadedObjectCount() != before)
                return "a failed load left objects behind";
            break;
        }
    }
    for (std::size_t i = 0; i < archive.LoadedObjectCount(); ++i)
        if (auto* checker = dynamic_cast<TChangeChecker*>(archive.LoadedObject(i)))
            static_cast<void>(checker->Resolve(archive));
    archive.DiscardLoadedObjects();
    return nullptr;
}

// What the objects an archive has loaded so far hold of each other: for
// every tree its parent and ring neighbours and its children, for every
// checker its carrier and whether it is linked, for every carrier its
// reference and count, for every changable its checkers. A failed load must
// leave all of it as it was.
void Snapshot(const TSLArchive& archive, std::vector<std::uintptr_t>* state) {
    state->clear();
    auto put = [&](const void* p) { state->push_back(reinterpret_cast<std::uintptr_t>(p)); };
    for (std::size_t i = 0; i < archive.LoadedObjectCount(); ++i) {
        TKavSLRoot* obj = archive.LoadedObject(i);
        put(obj);
        if (auto* tree = dynamic_cast<TTree*>(obj)) {
            put(tree->GetParent());
            put(tree->GetNext());
            put(tree->GetPrev());
            for (const TTree* child = tree->GetFirstChild(); child != nullptr;
                 child = child->GetNextSibling())
                put(child);
        } else if (auto* checker = dynamic_cast<TChangeChecker*>(obj)) {
            put(checker->GetCarrier());
            state->push_back(checker->IsLinked() ? 1 : 0);
            state->push_back(checker->GetPendingIdentity());
        } else if (auto* carrier = dynamic_cast<TSLRefCarry*>(obj)) {
            put(carrier->reference);
            state->push_back(static_cast<std::uint32_t>(carrier->count));
        } else if (auto* changable = dynamic_cast<TChangable*>(obj)) {
            for (const TChangeChecker* linked : changable->GetCheckers()) put(linked);
        }
    }
}

// How many elements of a sorted vector equal value.
template <class T>
std::size_t CountSorted(const std::vector<T>& sorted, const T& value) {
    const auto range = std::equal_range(sorted.begin(), sorted.end(), value);
    return static_cast<std::size_t>(range.second - range.first);
}

// The ownership rules among the objects an archive has loaded (nothing else
// holds them): a carrier's count is the number of checkers holding it; a
// changable lists exactly the linked checkers whose carrier refers to it; a
// tree's children name it as their parent, and a tree with a parent is among
// that parent's children. The counts are taken from sorted lists, so the
// check costs N log N for N objects.
const char* CheckOwnership(const TSLArchive& archive) {
    TScratch& scratch = Scratch();
    std::vector<const TSLRefCarry*>& held = scratch.held;
    std::vector<const TKavSL*>& watched = scratch.watched;
    std::vector<const TKavSLRoot*>& loaded = scratch.loaded;
    std::vector<std::pair<const TTree*, const TTree*>>& listed = scratch.listed;
    held.clear();
    watched.clear();
    loaded.clear();
    listed.clear();
    for (std::size_t i = 0; i < archive.LoadedObjectCount(); ++i) {
        TKavSLRoot* obj = archive.LoadedObject(i);
        loaded.push_back(obj);
        if (auto* checker = dynamic_cast<TChangeChecker*>(obj)) {
            const TSLRefCarry* carrier = checker->GetCarrier();
            if (carrier != nullptr) held.push_back(carrier);
            if (checker->IsLinked() && carrier != nullptr) watched.push_back(carrier->reference);
        }
        if (auto* tree = dynamic_cast<TTree*>(obj))
            for (const TTree* child = tree->GetFirstChild(); child != nullptr;
                 child = child->GetNextSibling())
                listed.emplace_back(child, tree);
    }
    std::sort(held.begin(), held.end());
    std::sort(watched.begin(), watched.end());
    std::sort(loaded.begin(), loaded.end());
    std::sort(listed.begin(), listed.end());

    for (std::size_t i = 0; i < archive.LoadedObjectCount(); ++i)
        if (auto* carrier = dynamic_cast<const TSLRefCarry*>(archive.LoadedObject(i)))
            if (carrier->count < 0 || static_cast<std::size_t>(carrier->count) != CountSorted(held, carrier))
                return "a carrier's count differs from the checkers holding it";
    for (std::size_t i = 0; i < archive.LoadedObjectCount(); ++i) {
        TKavSLRoot* obj = archive.LoadedObject(i);
        if (auto* changable = dynamic_cast<TChangable*>(obj)) {
            std::size_t listedCheckers = 0;
            for (const TChangeChecker* linked : changable->GetCheckers()) {
                ++listedCheckers;
                if (!linked->IsLinked() || linked->GetCarrier() == nullptr ||
                    linked->GetCarrier()->reference != changable)
                    return "a changable lists a checker that does not watch it";
            }
            if (listedCheckers != CountSorted(watched, static_cast<const TKavSL*>(changable)))
                return "a linked checker is missing from its changable's list";
        } else if (auto* tree = dynamic_cast<TTree*>(obj)) {
            for (const TTree* child = tree->GetFirstChild(); child != nullptr;
                 child = child->GetNextSibling())
                if (child->GetParent() != tree) return "a tree's child names another parent";
            if (const TTree* parent = tree->GetParent()) {
                bool found = false;
                if (std::binary_search(loaded.begin(), loaded.end(),
                                       static_cast<const TKavSLRoot*>(parent))) {
                    // A loaded parent's children are all in `listed`.
                    found = std::binary_search(listed.begin(), listed.end(),
                                               std::pair<const TTree*, const TTree*>(tree, parent));
                } else {
                    for (const TTree* child = parent->GetFirstChild(); child != nullptr && !found;
                         child = child->GetNextSibling())
                        found = child == tree;
                }
                if (!found) return "a tree is missing from its parent's children";
            }
        }
    }
    return nullptr;
}

// Loads the input as a sequence of inline references into one archive and
// keeps every object that loaded. The first load is the input taken as one
// object reference: when it loads, its graph is round-tripped. The failed
// load that ends the sequence must leave the earlier objects exactly as they
// were, and the ownership rules must hold after every load; then everything
// is freed through the archive (the sanitizers see anything freed twice or
// left behind).
const char* LoadInlineSequence(TMemoryStream& input, std::int32_t coding, bool* loadedAsReference) {
    TScratch& scratch = Scratch();
    static_cast<void>(input.Seek(0));
    const std::size_t size = input.Bytes().size();
    TSLArchive archive(&input, coding);
    const char* problem = nullptr;
    for (std::size_t step = 0; problem == nullptr; ++step) {
        if (step > 0 && (static_cast<std::size_t>(input.Tell()) >= size || step >= kMaxSequenceLoads ||
                         archive.LoadedObjectCount() > kMaxKeptObjects))
            break;
        const std::size_t before = archive.LoadedObjectCount();
        Snapshot(archive, &scratch.before);
        TKavSLRoot* root = nullptr;
        const bool loaded = SLLoadObject(archive, &root);
        if (!loaded) {
            if (root != nullptr || archive.LoadedObjectCount() != before) {
                problem = "a failed load left objects behind";
            } else {
                Snapshot(archive, &scratch.after);
                if (scratch.after != scratch.before)
                    problem = "a failed load changed objects of an earlier load";
            }
        } else if (step == 0) {
            *loadedAsReference = true;
            problem = CheckRoundTrip(root, coding, kInput, input, static_cast<std::size_t>(input.Tell()));
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
    TMemoryStream& input = Scratch().input;
    input.Assign(data, size);

    result.problem = LoadInlineSequence(input, coding, &result.loadedAsReference);

    const TKavSLRegister* registry = TKavSLRegister::Instance();
    for (std::int32_t id = 1; id < registry->GetNextId(); ++id) {
        const TSLClassRecord* record = registry->FindById(id);
        if (record == nullptr || record->Factory == nullptr) continue;
        TKavSLRoot* obj = record->Factory();
        if (obj == nullptr) continue;
        static_cast<void>(input.Seek(0));
        TSLArchive archive(&input, coding);
        obj->LoadPre(archive);
        if (!archive.Failed()) obj->Load(archive);
        if (!archive.Failed()) obj->LoadPost(archive);
        if (!archive.Failed() && result.problem == nullptr)
            result.problem =
                CheckRoundTrip(obj, coding, kInput + id, input, static_cast<std::size_t>(input.Tell()));
        // The object was not created by the archive: it lets go of what the
        // archive created before the archive frees that.
        obj->SLDiscardLinks();
        archive.DiscardLoadedObjects();
        delete obj;
    }

    const char* identityProblem = LoadIdentitySequence(input, coding);
    if (result.problem == nullptr) result.problem = identityProblem;
    return result;
}

}  // namespace KavFuzz
