/* insn_count.c - a QEMU user-mode plugin that counts the guest instructions
 * a program executes, per guest thread, and prints the totals when the
 * program exits, on standard error:
 *
 *   qemu-aarch64 -plugin ./libinsn_count.so -L SYSROOT PROGRAM ...
 *
 * The count of a translated block is added each time the block runs, by a
 * callback that writes only the running thread's own counter, so the totals
 * are exact for any number of threads. Used to compare the AO kernel's
 * paths on AArch64 when no ARM machine is at hand: the ratio of two counts
 * is the speed estimate.
 *
 * Debian's qemu-user exports the plugin interface but packages no header
 * for it, so the few declarations used are written here; they follow the
 * interface of version 1 (QEMU 4.2 to 8.x). */

#include <inttypes.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#define INSN_COUNT_EXPORT __attribute__((visibility("default")))

typedef uint64_t qemu_plugin_id_t;
struct qemu_plugin_tb;
typedef struct qemu_info_t qemu_info_t; /* not read */

enum qemu_plugin_cb_flags {
    QEMU_PLUGIN_CB_NO_REGS,
    QEMU_PLUGIN_CB_R_REGS,
    QEMU_PLUGIN_CB_RW_REGS,
};

typedef void (*qemu_plugin_udata_cb_t)(qemu_plugin_id_t id, void* userdata);
typedef void (*qemu_plugin_vcpu_udata_cb_t)(unsigned int vcpu_index, void* userdata);
typedef void (*qemu_plugin_vcpu_tb_trans_cb_t)(qemu_plugin_id_t id, struct qemu_plugin_tb* tb);

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, qemu_plugin_vcpu_tb_trans_cb_t cb);
void qemu_plugin_register_vcpu_tb_exec_cb(struct qemu_plugin_tb* tb, qemu_plugin_vcpu_udata_cb_t cb,
                                          enum qemu_plugin_cb_flags flags, void* userdata);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb* tb);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, qemu_plugin_udata_cb_t cb, void* userdata);

INSN_COUNT_EXPORT int qemu_plugin_version = 1;

/* One counter per guest thread (QEMU's vCPU index), each on its own cache
 * line; threads past the table share the last counter, which is then only
 * approximate, and the total says so. */
enum { kMaxThreads = 64 };
struct Counter {
    uint64_t count;
    char pad[64 - sizeof(uint64_t)];
};
static struct Counter counters[kMaxThreads];
static volatile int overflowed;

static void OnBlock(unsigned int vcpu, void* userdata) {
    if (vcpu >= kMaxThreads) {
        vcpu = kMaxThreads - 1;
        overflowed = 1;
    }
    counters[vcpu].count += (uint64_t)(uintptr_t)userdata;
}

static void OnTranslate(qemu_plugin_id_t id, struct qemu_plugin_tb* tb) {
    (void)id;
    qemu_plugin_register_vcpu_tb_exec_cb(tb, OnBlock, QEMU_PLUGIN_CB_NO_REGS,
                                         (void*)(uintptr_t)qemu_plugin_tb_n_insns(tb));
}

static void OnExit(qemu_plugin_id_t id, void* userdata) {
    (void)id;
    (void)userdata;
    uint64_t total = 0;
    for (int i = 0; i < kMaxThreads; ++i) total += counters[i].count;
    /* stderr, so that the program's own output stays as it is */
    fprintf(stderr, "insn_count: %" PRIu64 " instructions%s\n", total,
            overflowed ? " (more than 64 threads: approximate)" : "");
    for (int i = 0; i < kMaxThreads; ++i)
        if (counters[i].count != 0)
            fprintf(stderr, "insn_count: thread %d: %" PRIu64 "\n", i, counters[i].count);
}

INSN_COUNT_EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t* info, int argc,
                                          char** argv) {
    (void)info;
    (void)argc;
    (void)argv;
    qemu_plugin_register_vcpu_tb_trans_cb(id, OnTranslate);
    qemu_plugin_register_atexit_cb(id, OnExit, NULL);
    return 0;
}
