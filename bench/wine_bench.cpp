// SPDX-License-Identifier: MIT
// EnumWindows over 300 windows, once all native and once with 100 of them
// belonging to Windows programs. The programs are stand-ins that look to the
// process table as Wine programs do (a Windows path as the command line, the
// prefix in the environment, a program file with a version resource), ten
// processes of ten windows each. The closing line gives the ratio.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "RatioReporter.h"
#include "helper/WindowsHelper.h"
#include "support/PeBuilder.h"
#include "support/XServer.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWindows = 300;
constexpr int kPrograms = 10;

std::vector<pid_t> g_programs;

void StartPrograms(const fs::path& prefix) {
  fs::path folder = prefix / "drive_c/Program Files/Vendor";
  fs::create_directories(folder);
  fs::create_directories(prefix / "dosdevices");
  fs::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
  std::string environ = "WINEPREFIX=" + prefix.string();
  for (int i = 0; i < kPrograms; ++i) {
    std::string file = "App" + std::to_string(i) + ".exe";
    std::u16string product = u"Product " + std::u16string(1, u'A' + i);
    std::ofstream(folder / file, std::ios::binary) << vrk::petest::Image(
        vrk::petest::Version({{u"040904b0", {vrk::petest::String(u"ProductName", product)}}}));
    std::string argv0 = "C:\\Program Files\\Vendor\\" + file;
    pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      char* argv[] = {argv0.data(), const_cast<char*>("600"), nullptr};
      char* envp[] = {environ.data(), nullptr};
      execve("/bin/sleep", argv, envp);
      _exit(127);
    }
    g_programs.push_back(pid);
  }
}

void BM_EnumWindows(benchmark::State& state) {
  vrk::xtest::Client client;
  int wine = static_cast<int>(state.range(0));
  // Native windows carry their process number too, as nearly all do; init's
  // stands in, since it runs no Windows program.
  for (int i = 0; i < kWindows - wine; ++i) {
    xcb_window_t w = client.App("Application " + std::to_string(i));
    client.SetCardinals(w, "_NET_WM_PID", XCB_ATOM_CARDINAL, {1});
  }
  for (int i = 0; i < wine; ++i) {
    int program = i % kPrograms;
    std::string klass = "app" + std::to_string(program) + ".exe";
    xcb_window_t w = client.Create();
    client.SetBytes(w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, klass + '\0' + klass + '\0');
    client.SetCardinals(w, "_NET_WM_PID", XCB_ATOM_CARDINAL,
                        {static_cast<uint32_t>(g_programs[program])});
    client.Map(w);
  }
  for (auto _ : state) {
    vrk::Json result = vrk::WindowsHelper::EnumWindows();
    if (result.value("unsupportedAppNames", "") == "") state.SkipWithError("no windows seen");
    if (wine > 0 && result.value("unsupportedAppNames", "").rfind("Product ", 0) != 0) {
      state.SkipWithError("Windows programs not named by their product");
    }
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_EnumWindows)->Arg(0)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  char pattern[] = "/tmp/vrk-wine-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  StartPrograms(fs::path(pattern) / "prefix");
  int status = 0;
  {
    vrk::xtest::Xvfb server;
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter("0", "100", "EnumWindows 300 windows, 100 of Windows programs / none");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
  }
  for (pid_t pid : g_programs) kill(pid, SIGKILL);
  for (pid_t pid : g_programs) waitpid(pid, &status, 0);
  fs::remove_all(pattern);
  return 0;
}
