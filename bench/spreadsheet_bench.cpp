// Speed of the spreadsheet control: reading a 60-sheet report template (alone and into a grid
// widget) and entering one million values with EntryRC.
//
//   dupsweep_bench_sheet [--benchmark_filter=...]
// The Qt parts run on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <memory>
#include <string>
#include <vector>

#include "platform/spreadsheet/bookwidget.h"
#include "platform/spreadsheet/f1book.h"
#include "sheet_files.h"

namespace {

using dupsweep::sheet::BookWidget;
using dupsweep::sheet::F1Book;

constexpr int kSheets = 60;
constexpr int kTemplateRows = 60;
constexpr int kTemplateCols = 14;

// The template is written once per run, in a temporary directory removed at exit.
const std::filesystem::path& templatePath() {
  static dupsweep::sheet::testing::TempDir dir;
  static const std::filesystem::path path = [] {
    auto p = dir / "template60.xlsx";
    dupsweep::sheet::testing::writeTemplateXlsx(p, kSheets, kTemplateRows, kTemplateCols);
    return p;
  }();
  return path;
}

void BM_ReadTemplate60Sheets(benchmark::State& state) {
  const auto& path = templatePath();
  F1Book book;
  for (auto _ : state) {
    book.read(path);
    benchmark::DoNotOptimize(book.NumSheets());
  }
  state.counters["sheets"] = book.NumSheets();
}
BENCHMARK(BM_ReadTemplate60Sheets)->Unit(benchmark::kMillisecond);

void BM_ReadTemplate60SheetsIntoWidget(benchmark::State& state) {
  const auto& path = templatePath();
  F1Book book;
  BookWidget widget(book);
  widget.resize(1000, 700);
  widget.show();
  QApplication::processEvents();
  for (auto _ : state) {
    book.read(path);
    widget.flush();
    QApplication::processEvents();
  }
}
BENCHMARK(BM_ReadTemplate60SheetsIntoWidget)->Unit(benchmark::kMillisecond);

// Texts like the figures of a data table, made before the clock runs.
const std::vector<std::string>& figureTexts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> t;
    for (int i = 0; i < 4096; ++i) t.push_back(std::to_string(i * 37.25 + 1000));
    return t;
  }();
  return texts;
}

// One million EntryRC calls: 20,000 rows of 50 figures, row by row as the viewer writes them.
void enterMillion(F1Book& book) {
  const auto& texts = figureTexts();
  std::size_t k = 0;
  for (int row = 1; row <= 20000; ++row) {
    for (int col = 1; col <= 50; ++col) {
      book.EntryRC(row, col, texts[k++ & 4095]);
    }
  }
}

void BM_EntryRC1M(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto book = std::make_unique<F1Book>();
    state.ResumeTiming();
    enterMillion(*book);
    benchmark::DoNotOptimize(book->LastRow());
    state.PauseTiming();
    book.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_EntryRC1M)->Unit(benchmark::kMillisecond);

void BM_EntryRC1MOverwrite(benchmark::State& state) {
  F1Book book;
  enterMillion(book);
  for (auto _ : state) enterMillion(book);
  state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_EntryRC1MOverwrite)->Unit(benchmark::kMillisecond);

void BM_EntryRC1MWithWidget(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto book = std::make_unique<F1Book>();
    auto widget = std::make_unique<BookWidget>(*book);
    widget->resize(1000, 700);
    widget->show();
    QApplication::processEvents();
    state.ResumeTiming();
    enterMillion(*book);
    QApplication::processEvents();  // the one refresh of the grid
    state.PauseTiming();
    widget.reset();
    book.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_EntryRC1MWithWidget)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
