// The platform's embedded controller as the host sees it: two command/data port pairs (0x66/0x62
// and the keyboard-controller pair 0x64/0x60) with an input-buffer-full bit that stays set while
// the controller's firmware takes the byte, and the indexed register window 0xFF2D/0xFF2E/0xFF2F.
// Its flash-mode state machine reports 0xA5 in register 0xF554 some time after the 0x59 0xF2
// command, and 0x00 some time after the host clears bit 0 of register 0xFF14.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "sim/Bus.h"

namespace sim {

class Platform;

struct EcConfig {
  bool present = true;                 // absent: nothing decodes its ports (they read 0xFF)
  bool already_in_flash_mode = false;  // register 0xF554 reads 0xA5 from power-on
  bool never_answers = false;          // the flash-mode register never changes (a hung controller)
  Nanos ibf_busy = 50'000;             // time the firmware takes to pick up one host byte
  Nanos enter_delay = 200'000'000;     // request to flash mode reported
  Nanos leave_delay = 50'000'000;      // control bit cleared to normal mode reported
};

struct EcCommand {
  std::uint8_t command = 0;
  std::uint8_t data = 0;
  std::uint16_t command_port = 0;  // 0x66 or 0x64
  Nanos time = 0;
};

struct EcRegisterWrite {
  std::uint16_t address = 0;
  std::uint8_t value = 0;
  Nanos time = 0;
};

class EmbeddedController : public IoHandler {
 public:
  static constexpr std::uint16_t kFlashModeRegister = 0xF554;
  static constexpr std::uint16_t kControlRegister = 0xFF14;
  static constexpr std::uint8_t kStatusIbf = 0x02;
  static constexpr std::uint8_t kStatusCmd = 0x08;

  EmbeddedController(Platform& platform, const EcConfig& config);

  // Maps the ports when the controller is present.
  void attach();

  std::uint32_t io_read(std::uint16_t port, Width w) override;
  void io_write(std::uint16_t port, Width w, std::uint32_t value) override;

  // Test face.
  const std::vector<EcCommand>& commands() const { return commands_; }
  const std::vector<EcRegisterWrite>& register_writes() const { return register_writes_; }
  // Bytes the host wrote while the input buffer was still full (lost by a real controller).
  std::uint32_t overruns() const { return overruns_; }
  // Data bytes that arrived without a preceding command byte.
  std::uint32_t stray_data() const { return stray_data_; }
  // Host writes to the flash-mode register, which only the controller's firmware sets (ignored).
  std::uint32_t read_only_writes() const { return read_only_writes_; }
  bool in_flash_mode() const;
  bool final_command_received() const { return final_command_; }
  std::uint8_t peek(std::uint16_t address) const;
  void poke(std::uint16_t address, std::uint8_t value) { registers_[address] = value; }
  // "59 94, 59 77, ..." for reports.
  std::string dialogue() const;
  void power_on();

 private:
  void settle();  // applies pending state changes whose time has come
  void host_byte(bool command, std::uint16_t command_port, std::uint8_t value);
  void register_write(std::uint16_t address, std::uint8_t value);

  Platform& platform_;
  EcConfig config_;
  std::unordered_map<std::uint16_t, std::uint8_t> registers_;
  std::uint16_t index_ = 0;
  Nanos ibf_until_ = 0;
  bool last_was_command_ = false;
  bool have_command_ = false;
  std::uint8_t pending_command_ = 0;
  enum class Transition { None, Entering, Leaving } transition_ = Transition::None;
  Nanos transition_at_ = 0;
  bool final_command_ = false;
  std::uint32_t overruns_ = 0;
  std::uint32_t stray_data_ = 0;
  std::uint32_t read_only_writes_ = 0;
  std::vector<EcCommand> commands_;
  std::vector<EcRegisterWrite> register_writes_;
};

}  // namespace sim
