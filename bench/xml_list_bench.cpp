// The XML list reader (GM_XML_ParseBuf2List: every leaf under a parent as a row of a list, the list
// freed again) against a bare parse of the same text by Expat with handlers that do nothing: on a
// list of 20 names whose values are plain text, and on one whose 1,000 names repeat over the rows
// and whose values hold an entity reference (the parser hands such a value over in pieces).
#include <benchmark/benchmark.h>
#include <expat.h>

#include <string>

#include "bench_support.h"
#include "gm_xml.h"
#include "zpalist.h"

namespace {

enum class Shape { plain, named };

std::string rows_text(int rows, Shape shape = Shape::plain) {
    std::string xml =
        "<?xml version='1.0' encoding='iso-8859-1'?><UVSCM><HEADER><ACTION>List</ACTION></HEADER><BODY><ROWS>";
    for (int i = 0; i < rows; ++i) {
        if (shape == Shape::plain) {
            const std::string name = "VALUE" + std::to_string(i % 20);
            xml += "<" + name + ">row value " + std::to_string(i) + "</" + name + ">";
        } else {
            const std::string name = "FIELD_" + std::to_string(i % 1000);
            xml += "<" + name + ">row &amp; value " + std::to_string(i) + "</" + name + ">";
        }
    }
    return xml + "</ROWS></BODY></UVSCM>";
}

void read_list(benchmark::State& state, const std::string& xml) {
    for (auto _ : state) {
        ZPALIST_handle_typ list{};
        if (GM_XML_ParseBuf2List(xml.c_str(), "ROWS", &list) != CM_RC_OK) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(list.count);
        ZPALIST_clear(&list);
    }
}

void BM_XmlListReader(benchmark::State& state) { read_list(state, rows_text(static_cast<int>(state.range(0)))); }

void BM_XmlListReaderNamed(benchmark::State& state) {
    read_list(state, rows_text(static_cast<int>(state.range(0)), Shape::named));
}

void on_start(void*, const XML_Char*, const XML_Char**) {}
void on_end(void*, const XML_Char*) {}
void on_text(void*, const XML_Char*, int) {}

void parse_bare(benchmark::State& state, const std::string& xml) {
    for (auto _ : state) {
        XML_Parser parser = XML_ParserCreate(nullptr);
        XML_SetElementHandler(parser, on_start, on_end);
        XML_SetCharacterDataHandler(parser, on_text);
        if (XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), 1) != XML_STATUS_OK)
            state.SkipWithError("parse failed");
        XML_ParserFree(parser);
    }
}

void BM_XmlBareExpat(benchmark::State& state) { parse_bare(state, rows_text(static_cast<int>(state.range(0)))); }

void BM_XmlBareExpatNamed(benchmark::State& state) {
    parse_bare(state, rows_text(static_cast<int>(state.range(0)), Shape::named));
}

BENCHMARK(BM_XmlListReader)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_XmlBareExpat)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_XmlListReaderNamed)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_XmlBareExpatNamed)->Arg(1000)->Arg(10000)->Arg(100000);

// Speed of the list reader as a share of the bare parse's (Expat's time over the reader's): 1 would
// mean the reader adds nothing to the parse.
const bench::Ratio kSpeeds[] = {
    {"XML list reader speed / bare Expat, 100 rows", "BM_XmlBareExpat/100", "BM_XmlListReader/100",
     bench::at_least(0.8)},
    {"XML list reader speed / bare Expat, 1,000 rows", "BM_XmlBareExpat/1000", "BM_XmlListReader/1000",
     bench::at_least(0.8)},
    {"XML list reader speed / bare Expat, 10,000 rows", "BM_XmlBareExpat/10000", "BM_XmlListReader/10000",
     bench::at_least(0.8)},
    {"XML list reader speed / bare Expat, 1,000 rows of 1,000 names with &amp;", "BM_XmlBareExpatNamed/1000",
     "BM_XmlListReaderNamed/1000", bench::at_least(0.8)},
    {"XML list reader speed / bare Expat, 10,000 rows of 1,000 names with &amp;", "BM_XmlBareExpatNamed/10000",
     "BM_XmlListReaderNamed/10000", bench::at_least(0.8)},
    {"XML list reader speed / bare Expat, 100,000 rows of 1,000 names with &amp;", "BM_XmlBareExpatNamed/100000",
     "BM_XmlListReaderNamed/100000", bench::at_least(0.8)},
};

}  // namespace
