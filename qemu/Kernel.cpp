// The test kernel's main line: check what the loader gave, prepare the platform, load the image,
// build the PEI environment and call RecoveryEntry at user privilege; report when the run ends.
#include "qemu/Kernel.h"

#include "qemu/Clock.h"
#include "qemu/CommandLine.h"
#include "qemu/Console.h"
#include "qemu/CpuTables.h"
#include "qemu/EcModel.h"
#include "qemu/MemoryLayout.h"
#include "qemu/Multiboot.h"
#include "qemu/PeImage.h"
#include "qemu/PeiEnvironment.h"
#include "qemu/PlatformSetup.h"
#include "qemu/Watchdog.h"

extern "C" uint8_t kernel_stack_top[];

namespace harness {

namespace {

// The module's longest stall, 3,000,000 us after the controller's preparation commands, is
// 10,740,001 PM-timer ticks as the module counts them (3.58 per us, plus one). Started anywhere in
// this window it must cross the 24-bit wrap, and it does not start so close to the wrap that the
// start itself could fall on the other side.
constexpr uint32_t kWrapWindowLow = 0x600000;   // 0x600000 + 10,740,001 > 0xFFFFFF
constexpr uint32_t kWrapWindowHigh = 0xE00000;  // 0.58 s before the wrap
// Every scenario's run ends within 7 s (4 s of the module's own stalls, up to 2.4 s of holding for
// the wrap window); a run still going after this has hung.
constexpr uint32_t kRunLimitUs = 20000000;

ModuleImage loaded_image;
uint32_t user_stack[0x4000] __attribute__((aligned(16)));

struct Module {
  const uint8_t* data;
  uint32_t size;
};

Module multiboot_module(const MultibootInfo* info, uint32_t index, const char* what) {
  if ((info->flags & kMultibootInfoModules) == 0 || info->module_count <= index) {
    fail("loader: no multiboot module %u (%s); pass -initrd \"image,capsule\"", index, what);
  }
  const MultibootModule& module = reinterpret_cast<const MultibootModule*>(info->modules)[index];
  if (module.end < module.start || module.end > kModulesLimit) {
    fail("loader: module %u (%s) at 0x%08x-0x%08x does not end below 0x%08x", index, what, module.start,
         module.end, kModulesLimit);
  }
  log_line("loader: module %u (%s) at 0x%08x, %u bytes", index, what, module.start,
           module.end - module.start);
  return {reinterpret_cast<const uint8_t*>(module.start), module.end - module.start};
}

[[noreturn]] void finish(const char* how, uint32_t status) {
  log_line("result: %s 0x%08x", how, status);
  ec_report();
  report_platform();
  log_line("harness: end");
  exit_qemu(ExitCode::Finished);
}

}  // namespace

const ModuleImage& module_image() { return loaded_image; }

void finish_returned(uint32_t status) { finish("returned", status); }

void finish_final_command() { finish("final-command", 0); }

}  // namespace harness

using namespace harness;

extern "C" void kernel_main(uint32_t magic, const MultibootInfo* info) {
  bool clock = clock_start();
  log_line("harness: start, event timer period %u fs", clock_period_fs());
  if (!clock) {
    fail("clock: no high-precision event timer at 0xFED00000");
  }
  if (magic != kMultibootLoaderMagic) {
    fail("loader: magic 0x%08x, not a multiboot loader", magic);
  }
  const char* command_line =
      (info->flags & kMultibootInfoCommandLine) != 0 ? reinterpret_cast<const char*>(info->command_line) : "";
  log_line("harness: command line \"%s\"", command_line);
  Options options = parse_command_line(command_line);
  if ((info->flags & kMultibootInfoMemory) == 0 || info->mem_upper_kib < (kPagesLimit >> 10) - 1024) {
    fail("loader: %u KiB above 1 MiB, the harness needs memory up to 0x%08x", info->mem_upper_kib,
         kPagesLimit);
  }
  Module image_file = multiboot_module(info, 0, "image");
  Module capsule = multiboot_module(info, 1, "capsule");

  cpu_tables_init(reinterpret_cast<uint32_t>(kernel_stack_top), ec_port);
  prepare_platform(options);
  if (options.stall_wrap) {
    ec_hold_after_prepare(kWrapWindowLow, kWrapWindowHigh);
    log_line("harness: the controller takes the last preparation byte with the pm timer in 0x%06x-0x%06x",
             kWrapWindowLow, kWrapWindowHigh);
  }

  LoadedImage image = load_pe32(image_file.data, image_file.size, kImageBase, kImageCapacity);
  loaded_image = {image.base, image.size};
  const void* services = pei_environment_init(capsule.data, capsule.size);

  // cdecl: the return address, then FileHandle and PeiServices; 16-byte aligned at the arguments.
  uint32_t* stack = &user_stack[sizeof(user_stack) / sizeof(user_stack[0]) - 5];
  stack[0] = reinterpret_cast<uint32_t>(user_return_stub);
  stack[1] = image.base;  // FileHandle: the harness has no firmware file; the module ignores it
  stack[2] = reinterpret_cast<uint32_t>(services);
  log_line(
      "harness: calling RecoveryEntry at 0x%08x (FileHandle 0x%08x, PeiServices 0x%08x) at user privilege",
      image.entry, stack[1], stack[2]);
  watchdog_start(kRunLimitUs);
  enter_user_mode(image.entry, reinterpret_cast<uint32_t>(stack));
}
