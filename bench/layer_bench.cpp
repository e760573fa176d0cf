// Micro-benchmarks of the layer's work inside the process that the whole-run
// figures point to: listing a folder in its fixed order, and finding names
// that ignore letter case while a folder fills up. Run by hand:
//   build/layer_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "system.h"
#include "system_platform.h"

namespace {

namespace fs = std::filesystem;

// A fresh current folder for one benchmark, removed afterwards.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "layer-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw fs::filesystem_error("mkdtemp", {});
    path_ = pattern;
    previous_ = fs::current_path();
    fs::current_path(path_);
  }
  ~Scratch() {
    platform::ReleaseRun();
    fs::current_path(previous_);
    fs::remove_all(path_);
  }

 private:
  fs::path path_;
  fs::path previous_;
};

// Names in mixed case, in no particular order, as a game's resources come.
std::string NameOf(int64_t i) {
  std::string name = (i % 3 == 0   ? "tex_"
                      : i % 3 == 1 ? "Snd_"
                                   : "MDL_") +
                     std::to_string(i * 7919 % 100003);
  return name + (i % 2 == 0 ? ".dat" : ".DAT");
}

void MakeEmptyFiles(const std::string& folder, int64_t count) {
  fs::create_directory(folder);
  for (int64_t i = 0; i < count; ++i) {
    close(open((folder + "/" + NameOf(i)).c_str(), O_WRONLY | O_CREAT, 0666));
  }
}

// SearchFirst and SearchNext over a whole folder: read, describe, sort.
void ListFolder(benchmark::State& state) {
  Scratch scratch;
  MakeEmptyFiles("F", state.range(0));
  for (auto _ : state) {
    TSearchRec rec;
    int64_t listed = 0;
    for (int32_t result = SearchFirst("F\\*.*", faAnyFile, rec); result == 0;
         result = SearchNext(rec)) {
      ++listed;
    }
    SearchClose(rec);
    benchmark::DoNotOptimize(listed);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(ListFolder)->Arg(128)->Arg(1024)->Arg(8192)->Unit(benchmark::kMillisecond);

// Extraction into one folder: MakeFolder and CreateFresh for every entry, each
// name checked against the folder's names in every letter case. The time per
// entry must not grow with the folder.
void CreateInOneFolder(benchmark::State& state) {
  Scratch scratch;
  for (auto _ : state) {
    state.PauseTiming();
    platform::ReleaseRun();
    fs::remove_all("F");
    state.ResumeTiming();
    for (int64_t i = 0; i < state.range(0); ++i) {
      TCheckedFile file;
      MakeFolder("F");
      CreateFresh(file, "F\\" + NameOf(i));
      CloseChecked(file);
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(CreateInOneFolder)->Arg(1024)->Arg(8192)->Unit(benchmark::kMillisecond);

// Opening names written in another letter case in a full folder: the first
// lookup reads the folder, the others find the name in what was read.
void OpenCaseVariants(benchmark::State& state) {
  Scratch scratch;
  MakeEmptyFiles("F", state.range(0));
  for (auto _ : state) {
    for (int64_t i = 0; i < state.range(0); ++i) {
      TCheckedFile file;
      OpenExisting(file, "f\\" + UpperAscii(NameOf(i)));
      CloseChecked(file);
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(OpenCaseVariants)->Arg(1024)->Arg(8192)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
