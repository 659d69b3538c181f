/* A qemu-user TCG plugin that counts the guest instructions a program executes and writes
 * "instructions: N" to the file named by $INSTRUCTION_COUNT_FILE (with the process id
 * appended, so that a program and its children each leave one). tools/host-benchmark.sh
 * uses it where valgrind cannot run the 32-bit host. The few declarations of qemu's plugin
 * interface (version 1, as qemu 7.2 has it) are written here: no qemu header is installed. */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

typedef uint64_t qemu_plugin_id_t;
struct qemu_plugin_tb;
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb* tb);
void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb* tb, enum qemu_plugin_op op, void* counter,
                                              uint64_t amount);
void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, void (*translated)(qemu_plugin_id_t,
                                                                                    struct qemu_plugin_tb*));
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, void (*at_exit)(qemu_plugin_id_t, void*), void* data);

__attribute__((visibility("default"))) int qemu_plugin_version = 1;

static uint64_t executed;

/* Each translated block adds its length every time it runs. */
static void translated(qemu_plugin_id_t id, struct qemu_plugin_tb* tb) {
    (void)id;
    qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &executed, qemu_plugin_tb_n_insns(tb));
}

static void at_exit(qemu_plugin_id_t id, void* data) {
    (void)id;
    (void)data;
    const char* base = getenv("INSTRUCTION_COUNT_FILE");
    char path[4096];
    FILE* out = stderr;
    if (base != NULL) {
        snprintf(path, sizeof path, "%s.%d", base, (int)getpid());
        out = fopen(path, "w");
        if (out == NULL) return;
    }
    fprintf(out, "instructions: %llu\n", (unsigned long long)executed);
    if (out != stderr) fclose(out);
}

__attribute__((visibility("default"))) int qemu_plugin_install(qemu_plugin_id_t id, const void* info, int argc,
                                                               char** argv) {
    (void)info;
    (void)argc;
    (void)argv;
    qemu_plugin_register_vcpu_tb_trans_cb(id, translated);
    qemu_plugin_register_atexit_cb(id, at_exit, NULL);
    return 0;
}
