// Embedded-controller model: command/data handshake with an input-buffer-full bit, register window,
// and the flash-mode state machine behind registers 0xF554 and 0xFF14.
#include "qemu/EcModel.h"

#include "qemu/Clock.h"
#include "qemu/Console.h"
#include "qemu/PlatformSetup.h"

namespace harness {

namespace {

constexpr uint16_t kKbcData = 0x60;
constexpr uint16_t kKbcCommand = 0x64;
constexpr uint16_t kAcpiData = 0x62;
constexpr uint16_t kAcpiCommand = 0x66;
constexpr uint16_t kIndexHigh = 0xFF2D;
constexpr uint16_t kIndexLow = 0xFF2E;
constexpr uint16_t kIndexData = 0xFF2F;

constexpr uint8_t kStatusIbf = 0x02;  // the firmware has not taken the host's last byte yet
constexpr uint8_t kStatusCmd = 0x08;  // the last host byte went to the command port

constexpr uint16_t kFlashModeRegister = 0xF554;
constexpr uint16_t kControlRegister = 0xFF14;
constexpr uint8_t kFlashModeOn = 0xA5;
constexpr uint8_t kFlashModeOff = 0x00;
constexpr uint8_t kControlFlashMode = 0x01;

constexpr uint8_t kCommand = 0x59;
constexpr uint8_t kDataPrepareLast = 0x77;
constexpr uint8_t kDataEnterFlash = 0xF2;
constexpr uint8_t kDataFinal = 0xF6;

// The firmware's reaction times, counted in host polls so that every run logs the same dialogue:
// a byte is taken after one status read shows the input buffer full, and a requested mode change
// shows in 0xF554 on the third read after the request.
constexpr uint32_t kModeChangeReads = 3;
// A host that keeps making accesses the controller refuses never gets anywhere (its input-buffer
// waits see all ones, its flash-mode polls never see 0xA5): stop the run instead of waiting.
constexpr uint32_t kRefusalLimit = 16;

enum class Mode { Normal, Entering, Flash, Leaving };

uint8_t registers[0x10000];
uint16_t index;
bool input_full;
bool last_was_command;
bool have_command;
uint8_t pending_command;
uint16_t pending_command_port;
Mode mode = Mode::Normal;
uint32_t mode_change_countdown;
bool final_command;
uint32_t status_reads;
uint32_t refused;
uint32_t hold_low;
uint32_t hold_high;
bool hold_armed;

uint16_t data_port_of(uint16_t command_port) { return command_port == kAcpiCommand ? kAcpiData : kKbcData; }

void count_refusal() {
  if (++refused == kRefusalLimit) {
    fail("ec: %u accesses refused, stopping the run", refused);
  }
}

void refuse(const char* what, uint16_t port, uint32_t width) {
  log_line("ec: refused %s at port 0x%04x (%u-bit)", what, port, width);
  count_refusal();
}

void hold_until_pm_window() {
  uint32_t now = pm_timer();
  while (now < hold_low || now > hold_high) {
    now = pm_timer();
  }
  log_line("ec: took the byte at pm timer 0x%06x", now);
}

void command_complete(uint16_t command_port, uint8_t command, uint8_t data) {
  log_line("ec: command %02X %02X ports %02x/%02x", command, data, command_port, data_port_of(command_port));
  if (command != kCommand) {
    return;
  }
  if (data == kDataEnterFlash && mode == Mode::Normal) {
    mode = Mode::Entering;
    mode_change_countdown = kModeChangeReads;
  } else if (data == kDataFinal) {
    final_command = true;
  } else if (data == kDataPrepareLast && hold_armed) {
    hold_until_pm_window();
  }
}

void host_byte(bool is_command, uint16_t command_port, uint8_t value) {
  if (input_full) {
    refuse("a byte while the input buffer was full", is_command ? command_port : data_port_of(command_port),
           8);
  }
  input_full = true;
  last_was_command = is_command;
  if (is_command) {
    have_command = true;
    pending_command = value;
    pending_command_port = command_port;
    return;
  }
  if (!have_command || pending_command_port != command_port) {
    log_line("ec: refused data 0x%02x on the pair of port 0x%02x without a command there", value,
             command_port);
    count_refusal();
    have_command = false;
    return;
  }
  have_command = false;
  command_complete(command_port, pending_command, value);
}

uint8_t read_register(uint16_t address) {
  if (address == kFlashModeRegister && (mode == Mode::Entering || mode == Mode::Leaving)) {
    if (--mode_change_countdown == 0) {
      registers[kFlashModeRegister] = mode == Mode::Entering ? kFlashModeOn : kFlashModeOff;
      mode = mode == Mode::Entering ? Mode::Flash : Mode::Normal;
    }
  }
  uint8_t value = registers[address];
  log_line("ec: register read %04X -> %02X", address, value);
  return value;
}

void write_register(uint16_t address, uint8_t value) {
  log_line("ec: register write %04X <- %02X", address, value);
  if (address == kFlashModeRegister) {
    refuse("a write to the read-only flash-mode register", kIndexData, 8);
    return;
  }
  uint8_t before = registers[address];
  registers[address] = value;
  // Clearing the control bit in flash mode asks the firmware to leave it.
  if (address == kControlRegister && (before & kControlFlashMode) != 0 && (value & kControlFlashMode) == 0 &&
      mode == Mode::Flash) {
    mode = Mode::Leaving;
    mode_change_countdown = kModeChangeReads;
  }
}

}  // namespace

bool ec_port(uint16_t port) {
  return port == kKbcData || port == kKbcCommand || port == kAcpiData || port == kAcpiCommand ||
         (port >= kIndexHigh && port <= kIndexData);
}

uint32_t ec_read(uint16_t port, uint32_t width) {
  if (width != 8) {
    refuse("a wide read", port, width);
    return 0xFFFFFFFF;
  }
  switch (port) {
    case kKbcCommand:
    case kAcpiCommand: {
      status_reads++;
      uint8_t status =
          static_cast<uint8_t>((input_full ? kStatusIbf : 0) | (last_was_command ? kStatusCmd : 0));
      input_full = false;  // the firmware takes the byte while the host looks
      return status;
    }
    case kKbcData:
    case kAcpiData:
      log_line("ec: data read on port 0x%02x -> 00", port);
      return 0;
    case kIndexHigh:
      return index >> 8;
    case kIndexLow:
      return index & 0xFF;
    default:
      return read_register(index);
  }
}

void ec_write(uint16_t port, uint32_t width, uint32_t value) {
  if (width != 8) {
    refuse("a wide write", port, width);
    return;
  }
  uint8_t byte = static_cast<uint8_t>(value);
  switch (port) {
    case kKbcCommand:
    case kAcpiCommand:
      host_byte(true, port, byte);
      return;
    case kKbcData:
      host_byte(false, kKbcCommand, byte);
      return;
    case kAcpiData:
      host_byte(false, kAcpiCommand, byte);
      return;
    case kIndexHigh:
      index = static_cast<uint16_t>((index & 0x00FF) | byte << 8);
      return;
    case kIndexLow:
      index = static_cast<uint16_t>((index & 0xFF00) | byte);
      return;
    default:
      write_register(index, byte);
      return;
  }
}

bool ec_final_command_received() { return final_command; }

void ec_hold_after_prepare(uint32_t pm_low, uint32_t pm_high) {
  hold_low = pm_low;
  hold_high = pm_high;
  hold_armed = true;
}

void ec_report() {
  log_line("ec: summary %u status reads, %u refused, flash mode register %02X, control register %02X",
           status_reads, refused, registers[kFlashModeRegister], registers[kControlRegister]);
}

}  // namespace harness
