// Loading a flat and a sectioned parameter table (GM_PARAM_load_file, GM_PARAM_subtable_load_file)
// of 100 and of 10,000 rows: a load whose cost grows with its rows alone costs as much a row at
// 10,000 rows as at 100.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_support.h"
#include "gm_param.h"

namespace {

constexpr int kRowsPerSection = 10;  // an account's section holds about this many keys

std::string flat_path(int rows) { return "data/FLAT" + std::to_string(rows) + ".dat"; }
std::string sectioned_path(int rows) { return "data/SECTIONED" + std::to_string(rows) + ".dat"; }

void write_tables(int rows) {
    std::string flat, sectioned;
    for (int i = 0; i < rows; ++i) {
        flat += "KEY" + std::to_string(i) + " value of row " + std::to_string(i) + "\n";
        if (i % kRowsPerSection == 0) sectioned += "[ACCOUNT" + std::to_string(i / kRowsPerSection) + "]\n";
        sectioned += "KEY" + std::to_string(i % kRowsPerSection) + " value of row " + std::to_string(i) + "\n";
    }
    bench::write_file(flat_path(rows), flat);
    bench::write_file(sectioned_path(rows), sectioned);
}

// Loads the table of `rows` rows (written first) once an iteration and frees it again.
void load_loop(benchmark::State& state, std::string (*path_of)(int), CM_RC (*load)(ZPALIST_handle_typ*, const char*),
               CM_RC (*clear)(ZPALIST_handle_typ*)) {
    const int rows = static_cast<int>(state.range(0));
    write_tables(rows);
    const std::string path = path_of(rows);
    for (auto _ : state) {
        ZPALIST_handle_typ list{};
        if (load(&list, path.c_str()) != CM_RC_OK) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(list.count);
        clear(&list);
    }
}

void BM_FlatTableLoad(benchmark::State& state) { load_loop(state, flat_path, GM_PARAM_load_file, GM_PARAM_list_clear); }

void BM_SectionedTableLoad(benchmark::State& state) {
    load_loop(state, sectioned_path, GM_PARAM_subtable_load_file, GM_PARAM_subtable_list_clear);
}

BENCHMARK(BM_FlatTableLoad)->Arg(100)->Arg(10000);
BENCHMARK(BM_SectionedTableLoad)->Arg(100)->Arg(10000);

// Cost a row at 10,000 rows over cost a row at 100 rows (1 = linear).
const bench::Ratio kFlat("flat table load, cost a row at 10,000 rows / at 100 rows", "BM_FlatTableLoad/10000",
                         "BM_FlatTableLoad/100", bench::at_most(1.5), bench::Clock::real, 100.0 / 10000.0);
const bench::Ratio kSectioned("sectioned table load, cost a row at 10,000 rows / at 100 rows",
                              "BM_SectionedTableLoad/10000", "BM_SectionedTableLoad/100", bench::at_most(1.5),
                              bench::Clock::real, 100.0 / 10000.0);

}  // namespace
