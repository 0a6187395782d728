// The emulated CPU's wiring: in/out hooks and the decoded range to the platform's buses, code hooks
// at the image's pause instructions, the PEI thunks and the device rows' Probe entries. A callback
// never lets an exception through the emulator's C frames: it records how the run ended, stops the
// emulation, and the outcome is reported once uc_emu_start has returned.
#include "sim/ia32/Ia32Engine.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>

#include "sim/ia32/DecodedRange.h"
#include "sim/ia32/GuestMemory.h"
#include "sim/ia32/PeiBridge.h"

namespace sim::ia32 {

namespace {

constexpr std::uint64_t kStackSize = 64 * 1024;
// RAM next to the image for the stack (lowest, so that an overflow faults), the stop instruction
// and the PEI tables and thunks: one mapping with the image.
constexpr std::uint64_t kWorkspace = kStackSize + 3 * GuestMemory::kPage;
constexpr std::uint8_t kHlt = 0xF4;
static_assert(DecodedRange::kBase == GuestMemory::kRamLimit, "RAM ends where the decoded range begins");

std::string hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%08llX", static_cast<unsigned long long>(v));
  return buf;
}

// One run: the emulator, its RAM and what the callbacks need. Its memory face is the platform's
// memory bus as the decoded range reaches it.
struct Run final : MemHandler {
  uc_engine* uc = nullptr;
  Platform& platform;
  PeiBridge* bridge = nullptr;
  std::optional<Outcome> ended;
  std::exception_ptr failure;
  // Detection as the module makes it: a row whose Probe returns success is the detected part.
  const std::vector<DeviceRow>* rows = nullptr;
  std::optional<DeviceRow> probing;  // the row of the Probe being run
  std::uint32_t probe_return = 0, probe_esp = 0;
  std::vector<std::uint32_t> return_sites;  // hooked already
  std::optional<DeviceRow> detected;

  explicit Run(Platform& p) : platform(p) {}
  ~Run() override {
    if (uc != nullptr) {
      uc_close(uc);
    }
  }

  // Runs one access or call of the platform. Once the run has ended, nothing more reaches the
  // platform: instructions the emulator still finishes after the stop are not part of the run.
  template <class F>
  void guarded(F&& f) {
    if (ended || failure) {
      return;
    }
    try {
      f();
    } catch (RunEnded& e) {
      ended = std::move(e.outcome);
      uc_emu_stop(uc);
    } catch (...) {
      failure = std::current_exception();
      uc_emu_stop(uc);
    }
  }

  std::uint32_t mem_read(std::uint32_t address, Width w) override {
    std::uint32_t value = all_ones(w);
    guarded([&] { value = platform.mem_read(address, w); });
    return value;
  }
  void mem_write(std::uint32_t address, Width w, std::uint32_t value) override {
    guarded([&] { platform.mem_write(address, w, value); });
  }
};

std::uint32_t on_in(uc_engine*, std::uint32_t port, int size, void* user) {
  Run& run = *static_cast<Run*>(user);
  std::uint32_t value = all_ones(width_of(static_cast<unsigned>(size)));
  run.guarded([&] { value = run.platform.io_read(static_cast<std::uint16_t>(port), width_of(size)); });
  return value;
}

void on_out(uc_engine*, std::uint32_t port, int size, std::uint32_t value, void* user) {
  Run& run = *static_cast<Run*>(user);
  run.guarded([&] { run.platform.io_write(static_cast<std::uint16_t>(port), width_of(size), value); });
}

void on_pause(uc_engine*, std::uint64_t, std::uint32_t, void* user) {
  Run& run = *static_cast<Run*>(user);
  run.guarded([&] { run.platform.cpu_pause(); });
}

void on_thunk(uc_engine*, std::uint64_t address, std::uint32_t, void* user) {
  Run& run = *static_cast<Run*>(user);
  run.guarded([&] { run.bridge->serve(static_cast<std::uint32_t>(address)); });
}

std::uint32_t stack_word(uc_engine* uc, std::uint32_t esp, unsigned n) {
  std::uint32_t v = 0;
  uc_mem_read(uc, esp + 4 * n, &v, 4);
  return v;
}

void on_probe_return(uc_engine* uc, std::uint64_t address, std::uint32_t, void* user) {
  Run& run = *static_cast<Run*>(user);
  std::uint32_t esp = 0, eax = 0;
  uc_reg_read(uc, UC_X86_REG_ESP, &esp);
  uc_reg_read(uc, UC_X86_REG_EAX, &eax);
  if (run.probing && address == run.probe_return && esp > run.probe_esp) {
    if (eax == 0) {  // EFI_SUCCESS
      run.detected = run.probing;
    }
    run.probing.reset();
  }
}

// A Probe's entry: notes the row and hooks where the Probe returns to. The return site is code
// not yet run the first time it is seen; its cached translation, if any, is dropped so that the
// new hook is part of it.
void on_probe(uc_engine* uc, std::uint64_t address, std::uint32_t, void* user) {
  Run& run = *static_cast<Run*>(user);
  if (run.ended || run.failure) {
    return;
  }
  std::uint32_t esp = 0;
  uc_reg_read(uc, UC_X86_REG_ESP, &esp);
  run.probe_esp = esp;
  run.probe_return = stack_word(uc, esp, 0);
  run.probing = probed_row(*run.rows, static_cast<std::uint32_t>(address), stack_word(uc, esp, 1));
  if (std::find(run.return_sites.begin(), run.return_sites.end(), run.probe_return) ==
      run.return_sites.end()) {
    uc_hook hook;
    if (uc_hook_add(uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(on_probe_return), user, run.probe_return,
                    run.probe_return) != UC_ERR_OK) {
      run.failure = std::make_exception_ptr(ImageError("the CPU emulator refused to hook a Probe's return"));
      uc_emu_stop(uc);
      return;
    }
    uc_ctl_remove_cache(uc, run.probe_return, run.probe_return + 1);
    run.return_sites.push_back(run.probe_return);
  }
}

void check(uc_err err, const char* what) {
  if (err != UC_ERR_OK) {
    throw ImageError(std::string("the CPU emulator refused to ") + what + ": " + uc_strerror(err));
  }
}

}  // namespace

Ia32Engine::Ia32Engine(const Pe32Image& image, std::uint32_t base)
    : placed_(image.place_at(base)), base_(base), entry_(base + image.entry_rva()) {
  if (std::uint64_t{base} + image.size_of_image() > GuestMemory::kRamLimit) {
    throw ImageError("an image of " + std::to_string(image.size_of_image()) + " bytes does not fit at " +
                     hex(base) + ": it must end below " + hex(GuestMemory::kRamLimit));
  }
  // PAUSE is F3 90. A code hook fires only where an instruction starts, so a match inside another
  // instruction's bytes costs nothing and never counts as a pause.
  for (const ImageSection& s : image.sections()) {
    if (!s.executable) {
      continue;
    }
    for (std::uint32_t i = s.rva; i + 1 < s.rva + s.size && i + 1 < placed_.size(); i++) {
      if (placed_[i] == 0xF3 && placed_[i + 1] == 0x90) {
        pauses_.push_back(base + i);
      }
    }
  }
  rows_ = find_device_rows(image, placed_, base);
  for (const DeviceRow& r : rows_) {
    if (std::find(probes_.begin(), probes_.end(), r.probe) == probes_.end()) {
      probes_.push_back(r.probe);
    }
  }
}

Ia32Engine::~Ia32Engine() = default;

Outcome Ia32Engine::run(Platform& platform, PeiCore& pei) {
  Run run(platform);
  run.rows = &rows_;
  detected_.reset();
  check(uc_open(UC_ARCH_X86, UC_MODE_32, &run.uc), "start");
  GuestMemory memory(run.uc);

  std::uint8_t* image = memory.place(base_, placed_.size(), kWorkspace);
  std::memcpy(image, placed_.data(), placed_.size());
  for (const PeiAllocation& a : pei.handed_out()) {
    memory.adopt(a.address, a.bytes);  // blocks handed out before this run stay reachable
  }
  PeiBridge bridge(run.uc, memory, pei);
  run.bridge = &bridge;
  std::uint8_t* stop = memory.allocate(1);
  *stop = kHlt;
  const std::uint32_t return_address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(stop));
  std::uint8_t* stack = memory.allocate(kStackSize);
  const std::uint32_t esp =
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(stack) + kStackSize - 64);
  const std::uint32_t frame[3] = {return_address, 0 /* FileHandle */, bridge.services_argument()};
  std::memcpy(stack + (esp - reinterpret_cast<std::uintptr_t>(stack)), frame, sizeof frame);
  check(uc_reg_write(run.uc, UC_X86_REG_ESP, &esp), "set ESP");

  DecodedRange decoded(run.uc, run);
  uc_hook hook;
  check(uc_hook_add(run.uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(on_in), &run, 1, 0, UC_X86_INS_IN),
        "hook IN");
  check(uc_hook_add(run.uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(on_out), &run, 1, 0, UC_X86_INS_OUT),
        "hook OUT");
  for (std::uint32_t site : pauses_) {
    check(uc_hook_add(run.uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(on_pause), &run, site, site),
          "hook PAUSE");
  }
  check(uc_hook_add(run.uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(on_thunk), &run,
                    bridge.thunks_begin(), bridge.thunks_end() - 1),
        "hook the PEI thunks");
  for (std::uint32_t probe : probes_) {
    check(uc_hook_add(run.uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(on_probe), &run, probe, probe),
          "hook a Probe");
  }

  return platform.run([&]() -> EFI_STATUS {
    uc_err err = uc_emu_start(run.uc, entry_, return_address, 0, 0);
    if (run.detected) {
      detected_ = std::make_pair(run.detected->vendor, run.detected->part);
    }
    if (run.failure) {
      std::rethrow_exception(run.failure);
    }
    if (run.ended) {
      platform.end_run(*run.ended);
    }
    std::uint32_t eip = 0, eax = 0;
    uc_reg_read(run.uc, UC_X86_REG_EIP, &eip);
    uc_reg_read(run.uc, UC_X86_REG_EAX, &eax);
    if (err == UC_ERR_OK && eip == return_address) {
      return eax;
    }
    // A CPU exception: the real processor would not come back from it either.
    platform.end_run(platform.hang(std::string("cpu exception at ") + hex(eip) + ": " + uc_strerror(err),
                                   kCpuExceptionHang));
  });
}

}  // namespace sim::ia32
