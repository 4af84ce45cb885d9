// Runs two commands pair by pair and reports each one's wall time (median,
// minimum, maximum over the runs) and peak resident memory, so a whole
// process can be compared with a baseline such as /bin/true in one run.
// usage: process_cost RUNS COMMAND_A -- COMMAND_B...
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Sample {
  double micros;
  long maxRssKib;
};

Sample runOnce(std::vector<char*>& argv) {
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  auto end = std::chrono::steady_clock::now();
  return {std::chrono::duration<double, std::micro>(end - start).count(), usage.ru_maxrss};
}

void report(const char* name, std::vector<Sample> samples) {
  std::sort(samples.begin(), samples.end(),
            [](const Sample& a, const Sample& b) { return a.micros < b.micros; });
  long rss = 0;
  for (const Sample& s : samples) rss = std::max(rss, s.maxRssKib);
  std::printf("%-10s wall median %8.1f us  min %8.1f  max %8.1f   peak RSS %ld KiB\n", name,
              samples[samples.size() / 2].micros, samples.front().micros, samples.back().micros,
              rss);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s RUNS COMMAND_A... -- COMMAND_B...\n", argv[0]);
    return 2;
  }
  int runs = std::atoi(argv[1]);
  std::vector<char*> a, b;
  bool second = false;
  for (int i = 2; i < argc; ++i) {
    if (!second && std::strcmp(argv[i], "--") == 0) {
      second = true;
      continue;
    }
    (second ? b : a).push_back(argv[i]);
  }
  a.push_back(nullptr);
  b.push_back(nullptr);
  std::vector<Sample> sa, sb;
  for (int i = 0; i < runs; ++i) {
    sa.push_back(runOnce(a));
    sb.push_back(runOnce(b));
  }
  report("first", sa);
  report("second", sb);
  std::sort(sa.begin(), sa.end(),
            [](const Sample& x, const Sample& y) { return x.micros < y.micros; });
  std::sort(sb.begin(), sb.end(),
            [](const Sample& x, const Sample& y) { return x.micros < y.micros; });
  std::printf("ratio of medians (second/first): %.3f\n",
              sb[sb.size() / 2].micros / sa[sa.size() / 2].micros);
  return 0;
}
