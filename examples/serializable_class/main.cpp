// A serializable class of one's own: a plan of tasks, where a task names the
// tasks it depends on. The plan owns its tasks; dependencies are shared
// references, so one task may be the dependency of several others.
//
// The program saves a small plan to a text and to a binary archive, loads each
// back and checks that the copy has the same tasks and the same dependencies,
// shared ones still shared. It prints the text archive and exits non-zero on
// any difference.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/sl/archive.h"
#include "base/sl/class_registry.h"
#include "base/sl/kav_sl.h"
#include "base/sl/object_graph.h"
#include "base/stream/framework_string.h"
#include "base/stream/memory_stream.h"

using namespace KavV3Base;

// A list of references: its length, then each reference, written inline the
// first time the archive meets its object and as a back-reference after.
template <class T>
void SaveList(TSLArchive& archive, const std::vector<T*>& list) {
    const auto count = static_cast<std::uint32_t>(list.size());
    SLWriteSize(archive, &count);
    for (T* item : list)
        if (!SLSaveObject(archive, &item)) return;
}

// Reads what SaveList wrote, appending to *list. The length comes from the
// archive: the list grows as the references arrive instead of reserving what
// a damaged archive claims. A null reference fails the load.
template <class T>
void LoadList(TSLArchive& archive, std::vector<T*>* list) {
    std::uint32_t count = 0;
    SLReadSize(archive, &count);
    for (std::uint32_t i = 0; i < count; ++i) {
        T* item = nullptr;
        if (!SLLoadObject(archive, &item)) return;
        if (item == nullptr) {
            archive.Fail(TSLFailure::ObjectRefused, "a list holds a null reference");
            return;
        }
        list->push_back(item);
    }
}

// A task: its name, its priority and the tasks it depends on, which it does
// not own.
class TTask : public TKavSL {
public:
    TTask() = default;
    TTask(const char* name, std::int32_t priority) : Name(name), Priority(priority) {}

    // Registers "TTask", derived from "TKavSL", on first call. A program calls
    // it before it loads an archive that may hold tasks: loading creates
    // objects by the class names the process has registered.
    static const TSLClassRecord* ClassRecord() {
        static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
        return SLRegisterClass(cache, "TTask", &TKavSL::ClassRecord, &SLNewInstance<TTask>);
    }
    const TSLClassRecord* GetClassRecord() override { return ClassRecord(); }

    // Save writes what Load reads, field for field: the parent's fields
    // first, then the own ones.
    void Save(TSLArchive& archive) override {
        TKavSL::Save(archive);
        if (SkipFields(archive) != 0) return;
        SLWriteString(archive, &Name);
        SLWriteInt(archive, &Priority);
        SaveList(archive, DependsOn);
    }
    void Load(TSLArchive& archive) override {
        TKavSL::Load(archive);
        if (SkipFields(archive) != 0) return;
        SLReadString(archive, &Name);
        SLReadInt(archive, &Priority);
        LoadList(archive, &DependsOn);
    }

    TString Name;
    std::int32_t Priority = 0;
    std::vector<TTask*> DependsOn;
};

// A plan: the tasks it owns, in order.
class TPlan : public TKavSL {
public:
    TPlan() = default;
    TPlan(const TPlan&) = delete;
    TPlan& operator=(const TPlan&) = delete;
    ~TPlan() override {
        for (TTask* task : Tasks) delete task;
    }

    static const TSLClassRecord* ClassRecord() {
        static constinit std::atomic<const TSLClassRecord*> cache{nullptr};
        return SLRegisterClass(cache, "TPlan", &TKavSL::ClassRecord, &SLNewInstance<TPlan>);
    }
    const TSLClassRecord* GetClassRecord() override { return ClassRecord(); }

    void Save(TSLArchive& archive) override {
        TKavSL::Save(archive);
        if (SkipFields(archive) == 0) SaveList(archive, Tasks);
    }
    void Load(TSLArchive& archive) override {
        TKavSL::Load(archive);
        if (SkipFields(archive) == 0) LoadList(archive, &Tasks);
    }
    // A failed load deletes every object it created itself, each once, after
    // asking each to let go of its links: the plan must then not delete its
    // tasks too.
    void SLDiscardLinks() override { Tasks.clear(); }

    TTask* Add(const char* name, std::int32_t priority, std::vector<TTask*> dependsOn = {}) {
        Tasks.push_back(new TTask(name, priority));
        Tasks.back()->DependsOn = std::move(dependsOn);
        return Tasks.back();
    }

    std::vector<TTask*> Tasks;
};

namespace {

// The plan in words, with each dependency given by its task's place in the
// plan ("?" for a task the plan does not hold): two plans with the same text
// have the same tasks and the same sharing.
std::string Describe(const TPlan& plan) {
    std::string text;
    for (const TTask* task : plan.Tasks) {
        text += std::string(task->Name.CStr()) + " (priority " + std::to_string(task->Priority) + ") after";
        for (const TTask* dependency : task->DependsOn) {
            const auto place = std::find(plan.Tasks.begin(), plan.Tasks.end(), dependency);
            text += place == plan.Tasks.end() ? " ?" : " #" + std::to_string(place - plan.Tasks.begin());
        }
        text += '\n';
    }
    return text;
}

// Saves the plan in the given coding and loads it back; true when the copy
// reads as the original. The archive's bytes are left in *bytes.
bool RoundTrip(TPlan* plan, std::int32_t coding, std::vector<unsigned char>* bytes) {
    const char* const codingName = coding == TSLArchive::CodingText ? "text" : "binary";
    TMemoryStream stream;
    TSLArchive saving(&stream, coding);
    if (!SLSaveObject(saving, &plan)) {
        std::fprintf(stderr, "%s save failed: %s\n", codingName, saving.GetFailureMessage().c_str());
        return false;
    }
    *bytes = stream.Bytes();

    TMemoryStream input(*bytes);
    TSLArchive loading(&input, coding);
    TPlan* copy = nullptr;
    if (!SLLoadObject(loading, &copy) || copy == nullptr) {
        std::fprintf(stderr, "%s load failed: %s\n", codingName,
                     loading.Failed() ? loading.GetFailureMessage().c_str() : "no plan in the archive");
        return false;
    }
    bool same = true;
    if (input.Tell() != static_cast<std::int32_t>(input.Size())) {
        std::fprintf(stderr, "%s load left %d bytes unread\n", codingName,
                     static_cast<int>(input.Size()) - static_cast<int>(input.Tell()));
        same = false;
    }
    const std::string original = Describe(*plan);
    const std::string loaded = Describe(*copy);
    if (loaded != original) {
        std::fprintf(stderr, "%s copy differs:\n%s-- from the original --\n%s", codingName, loaded.c_str(),
                     original.c_str());
        same = false;
    }
    // Deletes every object the load made, each once, whatever the shape of
    // the graph: also a task that only a dependency reached.
    loading.DiscardLoadedObjects();
    return same;
}

}  // namespace

int main() {
    // The framework's start-up unit has registered its own classes before
    // main: the program can load any framework object from here on.
    if (TKavSLRegister::Instance()->FindByName("TVBitmap") == nullptr) {
        std::fprintf(stderr, "the framework's classes are not registered at the start of main\n");
        return 1;
    }
    // This program's classes, before anything is loaded.
    TTask::ClassRecord();
    TPlan::ClassRecord();

    TPlan plan;
    TTask* design = plan.Add("design", 3);
    TTask* build = plan.Add("build", 2, {design});
    TTask* test = plan.Add("test", 2, {build, design});
    plan.Add("ship \"1.0\"", 1, {test, build});

    std::vector<unsigned char> text;
    std::vector<unsigned char> binary;
    const bool textSame = RoundTrip(&plan, TSLArchive::CodingText, &text);
    const bool binarySame = RoundTrip(&plan, TSLArchive::CodingBinary, &binary);

    std::fwrite(text.data(), 1, text.size(), stdout);
    std::printf("The plan:\n%s", Describe(plan).c_str());
    std::printf("text archive: %zu bytes, %s; binary archive: %zu bytes, %s\n", text.size(),
                textSame ? "loads back equal" : "DIFFERS", binary.size(),
                binarySame ? "loads back equal" : "DIFFERS");
    return textSame && binarySame ? 0 : 1;
}
