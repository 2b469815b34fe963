// Start-up: from exec to the first window exposed, and the peak RSS at that moment, of
// the tool and of a plain Qt window with the same controls, both under the offscreen
// platform with the same probe preloaded. Runs alternate; medians are shown.
//   bench_startup [--runs N]      (default 20)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Sample {
  double ms = 0;
  long peakKb = 0;
};

long long NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

bool Run(const char* program, Sample& sample) {
  int out[2];
  if (pipe(out) != 0) return false;
  const long long start = NowNs();
  const pid_t pid = fork();
  if (pid == 0) {
    ::close(out[0]);
    setenv("BENCH_PROBE_FD", std::to_string(out[1]).c_str(), 1);
    setenv("LD_PRELOAD", PROBE_PATH, 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    execl(program, program, nullptr);
    _exit(127);
  }
  ::close(out[1]);
  char line[128] = {};
  const auto n = ::read(out[0], line, sizeof line - 1);
  ::close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  long long shownNs = 0;
  if (n <= 0 || std::sscanf(line, "%lld %ld", &shownNs, &sample.peakKb) != 2) return false;
  sample.ms = double(shownNs - start) / 1e6;
  return true;
}

template <typename Field>
double Median(std::vector<Sample> samples, Field field) {
  std::sort(samples.begin(), samples.end(), [&](const Sample& a, const Sample& b) { return field(a) < field(b); });
  return double(field(samples[samples.size() / 2]));
}

}  // namespace

int main(int argc, char* argv[]) {
  int runs = 20;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
  std::vector<Sample> tool, floor;
  for (int i = 0; i < runs + 2; ++i) {  // two warm-up rounds fill the page cache
    Sample a, b;
    if (!Run(PROGRAM_PATH, a) || !Run(FLOOR_PATH, b)) {
      std::fprintf(stderr, "a run did not report its window\n");
      return 1;
    }
    if (i < 2) continue;
    tool.push_back(a);
    floor.push_back(b);
  }
  auto ms = [](const Sample& s) { return s.ms; };
  auto kb = [](const Sample& s) { return s.peakKb; };
  std::printf("Start-up to the window exposed, median of %d runs (offscreen platform)\n\n", runs);
  std::printf("| program | exec to shown ms | peak RSS kB |\n|---|---:|---:|\n");
  std::printf("| floor: plain Qt window, same controls | %.1f | %.0f |\n", Median(floor, ms), Median(floor, kb));
  std::printf("| vortalin | %.1f | %.0f |\n", Median(tool, ms), Median(tool, kb));
  std::printf("| ratio | %.2f x | %.2f x |\n", Median(tool, ms) / Median(floor, ms), Median(tool, kb) / Median(floor, kb));
  std::printf("\ngoal: within 1.1 x the floor\n");
  return 0;
}
