// A QEMU TCG plugin (qemu-user, plugin API version 1) that counts the guest instructions a
// program executes, leaving out those of `main`, and prints the count at exit:
//   insns: N
// bench/speed.sh runs amrdec_driver under it for two frame counts: the difference over the
// frames is what DecodeFrame and everything it calls execute per frame (the driver's stream
// loading, start and exit cancel out; its checksum loop, inlined into main, is not counted),
// the measure bench/callgrind.sh takes natively.
//
// Debian ships no header for the plugin interface; the few entry points used are declared
// here as QEMU exports them (C linkage, opaque handles).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" {

typedef uint64_t qemu_plugin_id_t;
struct qemu_plugin_tb;
struct qemu_plugin_insn;
struct qemu_info_t;
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };
typedef void (*qemu_plugin_vcpu_tb_trans_cb_t)(qemu_plugin_id_t id, qemu_plugin_tb* tb);
typedef void (*qemu_plugin_udata_cb_t)(qemu_plugin_id_t id, void* userdata);

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, qemu_plugin_vcpu_tb_trans_cb_t cb);
void qemu_plugin_register_vcpu_tb_exec_inline(qemu_plugin_tb* tb, qemu_plugin_op op, void* ptr, uint64_t imm);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, qemu_plugin_udata_cb_t cb, void* userdata);
size_t qemu_plugin_tb_n_insns(const qemu_plugin_tb* tb);
qemu_plugin_insn* qemu_plugin_tb_get_insn(const qemu_plugin_tb* tb, size_t idx);
const char* qemu_plugin_insn_symbol(const qemu_plugin_insn* insn);
void qemu_plugin_outs(const char* string);

__attribute__((visibility("default"))) extern const int qemu_plugin_version;
__attribute__((visibility("default"))) int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t* info,
                                                               int argc, char** argv);
}

// One counter: qemu-user runs the driver's one thread.
static uint64_t executed = 0;

// At translation: every block of instructions outside main adds its length to the counter
// each time it runs (inline, without a call).
static void OnTranslate(qemu_plugin_id_t, qemu_plugin_tb* tb) {
  const size_t n = qemu_plugin_tb_n_insns(tb);
  if (n == 0) return;
  const char* symbol = qemu_plugin_insn_symbol(qemu_plugin_tb_get_insn(tb, 0));
  if (symbol != nullptr && std::strcmp(symbol, "main") == 0) return;
  qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &executed, n);
}

static void OnExit(qemu_plugin_id_t, void*) {
  char line[64];
  std::snprintf(line, sizeof line, "insns: %llu\n", static_cast<unsigned long long>(executed));
  qemu_plugin_outs(line);
}

const int qemu_plugin_version = 1;

int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t*, int, char**) {
  qemu_plugin_register_vcpu_tb_trans_cb(id, OnTranslate);
  qemu_plugin_register_atexit_cb(id, OnExit, nullptr);
  return 0;
}
