// PtyPair: a real pseudo-terminal whose master side plays the device in the tests. The
// slave end is what the serial line opens; the pair keeps a slave descriptor of its own
// open, as a device simulator does, so that the tool closing the port never hangs the
// master up unless a test asks for that.
#pragma once

#include <string>
#include <string_view>

#include <termios.h>

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return master_ >= 0; }
  const std::string& SlavePath() const { return slavePath_; }
  int Master() const { return master_; }

  // Plays the device: bytes the device sends to the tool.
  void Write(std::string_view bytes);
  // What the tool has sent so far and not yet read by the test; never waits.
  std::string ReadAvailable();
  // Waits, without running any event loop, until n bytes came or the time is up.
  std::string ReadFor(std::size_t n, int timeoutMs = 5000);

  // The line settings as the tool left them on the slave.
  termios SlaveSettings() const;
  // Plays a device that never reads: fills the queue from the tool toward the device
  // until the kernel takes no more.
  void FillTowardDevice();
  // The device end vanishes: the master and the pair's own slave descriptor close.
  void Vanish();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};
