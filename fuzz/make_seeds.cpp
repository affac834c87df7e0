// Writes the fuzzers' seed corpus: real saves of small object graphs and class fields, in both codings.
//
//   sl_fuzz_seeds DIR   writes DIR/text/NAME and DIR/binary/NAME
//
// Files named seed-* hold one complete object reference each; body-* hold
// only the fields of one class, as its Save writes them; sequence-* hold
// several references in a row: with change checkers naming their carrier by
// identity only, or inline, ending in a load that fails after reaching into
// the objects loaded before it.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "3d/bitmap/bitmap.h"
#include "base/sl/archive.h"
#include "base/sl/kav_sl.h"
#include "base/sl/object_graph.h"
#include "base/sl/ref_carry.h"
#include "base/stream/memory_stream.h"
#include "base/util/change_notification.h"
#include "base/util/file_search.h"
#include "base/util/gsid.h"
#include "base/util/string_id.h"
#include "base/util/tree.h"

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

    // Several references in a row, saved with the given reference mode.
    void Sequence(const std::string& name, const std::vector<TKavSLRoot*>& roots,
                  std::int32_t referenceMode) {
        for (const std::int32_t coding : {TSLArchive::CodingText, TSLArchive::CodingBinary}) {
            TMemoryStream stream;
            TSLArchive archive(&stream, coding, referenceMode);
            for (TKavSLRoot* root : roots)
                if (!SLSaveObject(archive, &root)) ++failures;
            Write("sequence-" + name, coding, stream.Bytes());
        }
    }

    // Several records in a row, written by write(archive) into one archive
    // with inline references; write returns whether it could build them.
    template <class F>
    void Records(const std::string& name, F write) {
        for (const std::int32_t coding : {TSLArchive::CodingText, TSLArchive::CodingBinary}) {
            TMemoryStream stream;
            TSLArchive archive(&stream, coding);
            if (!write(archive) || archive.Failed()) ++failures;
            Write("sequence-" + name, coding, stream.Bytes());
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

// The header of a new object of class record in archive, written by hand
// as SLSaveObject writes it, under a fresh identity.
void WriteHeader(TSLArchive& archive, const TSLClassRecord* record) {
    const std::uint32_t identity = archive.Objects.NewIdentity();
    if (archive.Classes.FindById(record->Id) != nullptr) {
        const std::int32_t tag = SLRefTag::KnownClassRef;
        SLWriteInt(archive, &tag);
        SLWriteInt(archive, &record->Id);
    } else {
        const std::int32_t tag = SLRefTag::NewClassRef;
        SLWriteInt(archive, &tag);
        SLWriteString(archive, &record->Name);
        SLWriteInt(archive, &record->Id);
        TSLClassRecord met;
        met.Name = record->Name;
        met.Id = record->Id;
        archive.Classes.Register(std::move(met));
    }
    SLWriteSize(archive, &identity);
}

void WriteBackReference(TSLArchive& archive, const TKavSLRoot* obj) {
    const std::int32_t tag = SLRefTag::BackRef;
    const std::uint32_t identity = archive.Objects.FindIdentity(obj);
    SLWriteInt(archive, &tag);
    SLWriteSize(archive, &identity);
}

// Sequences whose second load fails after it has reached into the objects of
// the first: both must stay as the first load left them.
void WriteFailingSecondLoads(TSeedWriter& seeds) {
    // A tree with one child, then a tree whose first child is that child again
    // and whose second is null.
    seeds.Records("earlier-child-then-failing-tree", [](TSLArchive& archive) {
        TTree tree;
        auto* child = new TTree;
        tree.AddChild(child);
        TKavSLRoot* top = &tree;
        if (!SLSaveObject(archive, &top)) return false;
        WriteHeader(archive, TTree::ClassRecord());
        const std::uint32_t count = 2;
        const std::int32_t nullTag = SLRefTag::NullRef;
        SLWriteSize(archive, &count);
        WriteBackReference(archive, child);
        SLWriteInt(archive, &nullTag);
        return true;
    });
    // A checker watching a changable, then a checker whose carrier refers to a
    // second checker on the first one's carrier: the second checker counts
    // and links itself before its holder's carrier is refused.
    seeds.Records("earlier-carrier-then-failing-checker", [](TSLArchive& archive) {
        auto* watched = new TChangable;
        auto* carrier = new TSLRefCarry;
        carrier->reference = watched;
        TChangeChecker first;
        if (!first.Watch(carrier)) {
            delete watched;
            delete carrier;
            return false;
        }
        TKavSLRoot* top = &first;
        if (!SLSaveObject(archive, &top)) return false;
        WriteHeader(archive, TChangeChecker::ClassRecord());
        WriteHeader(archive, TSLRefCarry::ClassRecord());
        WriteHeader(archive, TChangeChecker::ClassRecord());
        WriteBackReference(archive, carrier);
        return true;
    });
}

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
    for (std::uint32_t i = 0; i < bitmap.GetStorageSize(); ++i)
        bitmap.GetBits()[i] = static_cast<unsigned char>(i * 51);
    seeds.Graph("bitmap", &bitmap);
    seeds.Body("bitmap", &bitmap);
    KavV33D::TBitmap small;
    small.Create(3, 2, 16);
    for (std::uint32_t i = 0; i < small.GetStorageSize(); ++i)
        small.GetBits()[i] = static_cast<unsigned char>(255 - i);
    TSLRefCarry holder;
    holder.reference = &small;
    seeds.Graph("carrier-of-bitmap", &holder);
    KavV33D::TBitmap empty;
    seeds.Graph("empty-bitmap", &empty);
    KavV33D::TVBitmap abstractBitmap;
    seeds.Graph("bitmap-interface", &abstractBitmap);

    TTree tree;
    auto* branch = new TTree;
    tree.AddChild(branch);
    branch->AddChild(new TTree);
    branch->AddChild(new TTree);
    tree.AddChild(new TTree);
    seeds.Graph("tree", &tree);
    seeds.Body("tree", &tree);
    TVTree treeNode;
    seeds.Graph("tree-node", &treeNode);

    TStringID table;
    for (const char* text : {"ab", "ba", "quote \"and\" \\", "line\nbreak"}) table.GetID(text);
    seeds.Graph("string-table", &table);
    seeds.Body("string-table", &table);
    TGSID handle;
    handle.SetText("global name");
    seeds.Graph("global-string", &handle);
    seeds.Body("global-string", &handle);

    TFileSearch search;
    for (const char* prefix : {"first/", "", "second/"}) search.AddPath(prefix);
    seeds.Graph("file-search", &search);
    seeds.Body("file-search", &search);

    // Two checkers sharing a carrier; the last checker to go frees the
    // changable and the carrier.
    auto* watched = new TChangable;
    auto* carrier = new TSLRefCarry;
    carrier->reference = watched;
    TChangeChecker first;
    TChangeChecker second;
    if (!first.Watch(carrier) || !second.Watch(carrier)) ++seeds.failures;
    seeds.Graph("checker", &first);
    seeds.Body("checker", &first);
    seeds.Sequence("checkers-by-identity", {carrier, &first, &second}, TSLArchive::ReferenceIdentity);
    TChangable unwatched;
    seeds.Graph("changable", &unwatched);
    TSLRefCarry nothing;
    TChangeChecker idle;
    if (!idle.Watch(&nothing)) ++seeds.failures;
    seeds.Graph("checker-of-nothing", &idle);
    idle.SLDiscardLinks();  // the carrier lives on the stack

    WriteFailingSecondLoads(seeds);

    return seeds.failures == 0 ? 0 : 1;
}
