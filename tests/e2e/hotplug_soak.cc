// Guest program: hot-plug soak. Mice of every kind are plugged and unplugged
// in quick succession, up to three at a time, with buttons pressed and often
// still held when the mouse goes. Afterwards the agent must still run and
// still work, its open file descriptors must not grow and its memory must be
// flat, no key may be left pressed on its uinput devices, and no copy of a
// grabbed mouse may outlive the mouse.
//
//   velt-e2e-hotplug-soak [CYCLES [SEED]]
#include <linux/input-event-codes.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <random>
#include <thread>

#include "tests/e2e/agent_process.h"
#include "tests/e2e/guest_mice.h"
#include "tools/mouse_sim/sim_commands.h"

namespace velt::e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Memory may grow by this much once warmed up: the registry keeps a record
// of every device it has seen.
constexpr long kMemoryAllowanceKb = 2048;
// A leak grows round after round; what fills once (an allocator's arena, a
// cache of Qt's) comes in one step. One step of up to this much is not
// counted in the growth.
constexpr long kOneStepKb = 4096;
constexpr int kRoundCycles = 50;
// Rounds that fill what the agent fills once, such as its allocator's
// arenas; they are not counted.
constexpr int kWarmUpRounds = 4;

struct Usage {
  int fds;
  long kb;
};

class Soak {
 public:
  Soak(int cycles, unsigned seed) : cycles_(cycles), seed_(seed), random_(seed) {}

  int run() {
    markers_.note("soak: seed " + std::to_string(seed_) +
                  " (VELT_SOAK_SEED=" + std::to_string(seed_) + " replays it)");
    auto agent = startWithDevices(markers_, withSettings(kGuestSettings, false));
    if (!agent) return 1;
    agent_ = std::move(*agent);
    // One mouse of every kind first, then rounds of random mice. The figures
    // are taken between rounds, with every mouse unplugged; the warm-up
    // rounds (at most half of them) fill what the agent fills once, the
    // rest must leave the figures flat.
    const auto models = pluggableMice();
    showEveryModel(models);
    for (const VirtualMouse* m : models) cycle(*m);
    while (!plugged_.empty()) unplugOldest();

    const auto started = std::chrono::steady_clock::now();
    std::uniform_int_distribution<size_t> pick(0, models.size() - 1);
    std::optional<Usage> before;
    long last = 0, largestStep = 0;
    std::string series;
    const int rounds = (cycles_ + kRoundCycles - 1) / kRoundCycles;
    for (int done = 0, round = 0; done < cycles_ && agent_.process->running(); ++round) {
      // Every other round one mouse stays in throughout, so that the agent
      // has a mouse selected while the others come and go.
      std::unique_ptr<UhidMouse> anchor;
      if (round % 2 == 1) {
        std::string error;
        const VirtualMouse& model = virtualMouse(round % 4 == 1 ? "QR-550" : "QR-450");
        anchor = UhidMouse::plug(model, "anchor" + std::to_string(round), nullptr, &error);
        std::this_thread::sleep_for(seconds(1));
      }
      for (int i = 0; i < kRoundCycles && done < cycles_; ++i, ++done) {
        cycle(*models[pick(random_)]);
      }
      while (!plugged_.empty()) unplugOldest();
      std::this_thread::sleep_for(milliseconds(800));
      countKeys();
      if (anchor) {
        // The buttons held on the mice that went must not stay pressed.
        const auto keys = agent_.keyboard->keysDown();
        if (!keys.empty()) {
          markers_.fail(
              "keys released when held mice go and another stays",
              std::to_string(keys.size()) + " keys down after round " + std::to_string(round));
        }
        anchor.reset();
        std::this_thread::sleep_for(milliseconds(800));
      }
      const Usage now = usage();
      series +=
          (series.empty() ? "" : ", ") + std::to_string(now.fds) + "/" + std::to_string(now.kb);
      if (before) largestStep = std::max(largestStep, now.kb - last);
      last = now.kb;
      if (round == std::min(kWarmUpRounds, rounds / 2) - 1) before = now;
    }
    const auto took =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - started);
    settle();
    markers_.note("soak: open fds/resident kB after each round: " + series);

    const bool alive = agent_.process->running();
    markers_.check(alive, "agent runs after the soak", agent_.process->ending());
    if (!alive) return 1;
    const Usage after = usage();
    if (!before) before = after;
    char figures[240];
    std::snprintf(figures, sizeof figures,
                  "soak: %d cycles (seed %u) in %lld ms, %zu key events; open fds %d -> %d; "
                  "resident memory %ld kB -> %ld kB",
                  cycles_, seed_, static_cast<long long>(took.count()), keysSeen_, before->fds,
                  after.fds, before->kb, after.kb);
    markers_.note(figures);
    // A fall is no leak; only growth is.
    markers_.check(after.fds <= before->fds, "open file descriptors do not grow", figures);
    const long oneStep = largestStep <= kOneStepKb ? largestStep : 0;
    markers_.check(after.kb - before->kb - oneStep <= kMemoryAllowanceKb, "memory is flat",
                   std::string(figures) + "; largest step " + std::to_string(largestStep) + " kB");
    markers_.check(keysSeen_ > 0, "buttons pressed during the soak reached the agent", figures);

    const auto keys = agent_.keyboard->keysDown();
    const auto buttons = agent_.pointer->keysDown();
    markers_.check(keys.empty() && buttons.empty(), "no key left pressed on the agent's devices",
                   std::to_string(keys.size() + buttons.size()) + " down");
    std::string copies;
    for (const VirtualMouse* m : pluggableMice()) {
      if (!eventNodesNamed("Virtual " + m->model).empty()) copies += " " + m->model;
    }
    markers_.check(copies.empty(), "no copy of a mouse outlives it", "left:" + copies);
    stillWorks();
    auto status = agent_.process->terminate(seconds(20));
    markers_.check(status == 0, "agent ends with status 0 on SIGTERM", agent_.process->ending());
    return markers_.failures() == 0 ? 0 : 1;
  }

 private:
  // Plugs a mouse, maybe presses buttons (and maybe leaves them held), and
  // unplugs the oldest mouse when three are in.
  void cycle(const VirtualMouse& model) {
    std::string error;
    auto mouse = UhidMouse::plug(model, "soak" + std::to_string(next_++), nullptr, &error);
    if (!mouse) {
      markers_.fail("plug " + model.model, error);
      return;
    }
    plugged_.push_back(std::move(mouse));
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> pause(0, 60);
    std::this_thread::sleep_for(milliseconds(pause(random_)));
    if (percent(random_) < 70) {
      // Any of the assigned standard buttons, or an extra-button code.
      static const uint8_t kMasks[] = {0x04, 0x08, 0x10, 0x0C, 0x1C, 0x18};
      static const uint8_t kCodes[] = {0xFA, 0xFC, 0xFE, 0xFD};
      UhidMouse& m = *plugged_.back();
      m.sendButtons(kMasks[percent(random_) % 6],
                    percent(random_) < 30 ? kCodes[percent(random_) % 4] : 0);
      std::this_thread::sleep_for(milliseconds(pause(random_)));
      if (percent(random_) < 50) m.sendButtons(0);
    }
    if (plugged_.size() >= 3 || percent(random_) < 40) unplugOldest();
    countKeys();
  }

  // The window keeps the model pictures it has shown in Qt's pixmap cache,
  // up to the cache's 10 MB (a picture is 2.5 MB decoded). Each model alone
  // is shown first, so that the cache is full before anything counts;
  // otherwise it fills in steps whenever a model is first selected, which
  // may be late in a random run.
  void showEveryModel(const std::vector<const VirtualMouse*>& models) {
    for (const VirtualMouse* m : models) {
      std::string error;
      auto mouse = UhidMouse::plug(*m, "first" + std::to_string(next_++), nullptr, &error);
      if (!mouse) {
        markers_.fail("plug " + m->model, error);
        continue;
      }
      if (configurationPassLength(m->type) > 0) mouse->waitForReceived(0, 1, seconds(10));
      // The window follows once the device-change countdown has run.
      std::this_thread::sleep_for(seconds(2));
    }
  }

  void unplugOldest() {
    plugged_.pop_front();
    countKeys();
  }

  // Reads the keys the agent has sent, which would pile up unread otherwise.
  void countKeys() { keysSeen_ += readKeys(*agent_.keyboard, SIZE_MAX, milliseconds(0)).size(); }

  // Lets countdowns and configuration passes finish.
  void settle() {
    std::this_thread::sleep_for(seconds(3));
    countKeys();
    agent_.pointer->drain();
  }

  // The agent's figures once settled: a descriptor opened for a moment (a
  // node probed, a pipe to a helper) is no leak, so the least of a few
  // readings counts.
  Usage usage() const {
    Usage least{agent_.process->openFileDescriptors(), agent_.process->residentKilobytes()};
    for (int i = 0; i < 4; ++i) {
      std::this_thread::sleep_for(milliseconds(100));
      least.fds = std::min(least.fds, agent_.process->openFileDescriptors());
    }
    return least;
  }

  void stillWorks() {
    std::string error;
    auto mouse = UhidMouse::plug(virtualMouse("QR-550"), "soak-last", nullptr, &error);
    if (!markers_.check(mouse != nullptr, "plug a mouse after the soak", error)) return;
    const bool configured = mouse->waitForReceived(0, 1, seconds(20));
    markers_.check(configured, "a mouse plugged after the soak is configured",
                   describe(mouse->received(0)));
    std::this_thread::sleep_for(seconds(1));
    agent_.keyboard->drain();
    mouse->sendButtons(0x04);
    expectKeys(markers_, *agent_.keyboard, "a press after the soak still sends Copy", kCopyKeys);
    mouse->sendButtons(0);
  }

  int cycles_;
  unsigned seed_;
  std::mt19937 random_;
  Markers markers_;
  RunningAgent agent_;
  std::deque<std::unique_ptr<UhidMouse>> plugged_;
  int next_ = 1;
  size_t keysSeen_ = 0;
};

}  // namespace
}  // namespace velt::e2e

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 500;
  const unsigned seed =
      argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : std::random_device{}();
  // Each mouse is identified on a thread of its own, and glibc gives new
  // threads arenas of their own, up to eight per core: the resident size then
  // grows in steps of up to a few MB the first time a thread uses a new
  // arena, which is no leak. With two arenas the figure is the agent's own.
  // (The agent inherits the environment.)
  ::setenv("MALLOC_ARENA_MAX", "2", 1);
  const int status = velt::e2e::Soak(cycles, seed).run();
  if (status != 0) velt::e2e::AgentProcess::showLog();
  return status;
}
