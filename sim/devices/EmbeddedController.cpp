// Embedded controller: port handshake, register window and flash-mode state machine.
#include "sim/devices/EmbeddedController.h"

#include <cstdio>

#include "sim/Platform.h"

namespace sim {

namespace {
constexpr std::uint8_t kFlashModeOn = 0xA5;
constexpr std::uint8_t kFlashModeOff = 0x00;
constexpr std::uint8_t kEnterFlashMode = 0xF2;
constexpr std::uint8_t kFinal = 0xF6;
}  // namespace

EmbeddedController::EmbeddedController(Platform& platform, const EcConfig& config)
    : platform_(platform), config_(config) {
  power_on();
}

void EmbeddedController::attach() {
  if (!config_.present) {
    return;
  }
  Nanos cost = platform_.costs().io_port;
  platform_.map_io(0x60, 1, this, cost);
  platform_.map_io(0x62, 1, this, cost);
  platform_.map_io(0x64, 1, this, cost);
  platform_.map_io(0x66, 1, this, cost);
  platform_.map_io(0xFF2D, 3, this, cost);
}

void EmbeddedController::power_on() {
  registers_.clear();
  registers_[kFlashModeRegister] = config_.already_in_flash_mode ? kFlashModeOn : kFlashModeOff;
  registers_[kControlRegister] = 0;
  index_ = 0;
  ibf_until_ = 0;
  last_was_command_ = false;
  have_command_ = false;
  transition_ = Transition::None;
  final_command_ = false;
}

std::uint8_t EmbeddedController::peek(std::uint16_t address) const {
  auto it = registers_.find(address);
  return it == registers_.end() ? 0 : it->second;
}

bool EmbeddedController::in_flash_mode() const { return peek(kFlashModeRegister) == kFlashModeOn; }

void EmbeddedController::settle() {
  if (transition_ == Transition::None || platform_.now() < transition_at_) {
    return;
  }
  registers_[kFlashModeRegister] = transition_ == Transition::Entering ? kFlashModeOn : kFlashModeOff;
  transition_ = Transition::None;
}

std::uint32_t EmbeddedController::io_read(std::uint16_t port, Width) {
  settle();
  switch (port) {
    case 0x64:
    case 0x66: {
      std::uint8_t status = last_was_command_ ? kStatusCmd : 0;
      if (platform_.now() < ibf_until_) {
        status |= kStatusIbf;
      }
      return status;
    }
    case 0x60:
    case 0x62:
      return 0;  // no output data is ever produced for these commands
    case 0xFF2D:
      return index_ >> 8;
    case 0xFF2E:
      return index_ & 0xFF;
    case 0xFF2F:
      return peek(index_);
  }
  return 0xFF;
}

void EmbeddedController::io_write(std::uint16_t port, Width, std::uint32_t value) {
  settle();
  std::uint8_t byte = static_cast<std::uint8_t>(value);
  switch (port) {
    case 0x64:
    case 0x66:
      host_byte(true, port, byte);
      return;
    case 0x60:
      host_byte(false, 0x64, byte);
      return;
    case 0x62:
      host_byte(false, 0x66, byte);
      return;
    case 0xFF2D:
      index_ = static_cast<std::uint16_t>((index_ & 0x00FF) | byte << 8);
      return;
    case 0xFF2E:
      index_ = static_cast<std::uint16_t>((index_ & 0xFF00) | byte);
      return;
    case 0xFF2F:
      register_write(index_, byte);
      return;
  }
}

void EmbeddedController::host_byte(bool command, std::uint16_t command_port, std::uint8_t value) {
  if (platform_.now() < ibf_until_) {
    overruns_++;  // the firmware had not taken the previous byte; a real controller may lose it
  }
  ibf_until_ = platform_.now() + config_.ibf_busy;
  last_was_command_ = command;
  if (command) {
    have_command_ = true;
    pending_command_ = value;
    return;
  }
  if (!have_command_) {
    stray_data_++;
    return;
  }
  have_command_ = false;
  commands_.push_back(EcCommand{pending_command_, value, command_port, platform_.now()});
  if (config_.never_answers) {
    return;
  }
  if (value == kEnterFlashMode && !in_flash_mode()) {
    transition_ = Transition::Entering;
    transition_at_ = platform_.now() + config_.enter_delay;
  } else if (value == kFinal) {
    final_command_ = true;
  }
}

void EmbeddedController::register_write(std::uint16_t address, std::uint8_t value) {
  register_writes_.push_back(EcRegisterWrite{address, value, platform_.now()});
  if (address == kFlashModeRegister) {
    read_only_writes_++;
    return;  // reported by the controller, not written by the host
  }
  registers_[address] = value;
  if (address == kControlRegister && (value & 1) == 0 && in_flash_mode() && !config_.never_answers) {
    transition_ = Transition::Leaving;
    transition_at_ = platform_.now() + config_.leave_delay;
  }
}

std::string EmbeddedController::dialogue() const {
  std::string out;
  char buf[16];
  for (const auto& c : commands_) {
    std::snprintf(buf, sizeof buf, "%s%02X %02X", out.empty() ? "" : ", ", c.command, c.data);
    out += buf;
  }
  return out;
}

}  // namespace sim
