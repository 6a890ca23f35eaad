// The XML list reader (GM_XML_ParseBuf2List: every leaf under a parent as a row of a list, the list
// freed again) against a bare parse of the same text by Expat with handlers that do nothing.
#include <benchmark/benchmark.h>
#include <expat.h>

#include <string>

#include "bench_support.h"
#include "gm_xml.h"
#include "zpalist.h"

namespace {

std::string rows_text(int rows) {
    std::string xml =
        "<?xml version='1.0' encoding='iso-8859-1'?><UVSCM><HEADER><ACTION>List</ACTION></HEADER><BODY><ROWS>";
    for (int i = 0; i < rows; ++i)
        xml += "<VALUE" + std::to_string(i % 20) + ">row value " + std::to_string(i) + "</VALUE" +
               std::to_string(i % 20) + ">";
    return xml + "</ROWS></BODY></UVSCM>";
}

void BM_XmlListReader(benchmark::State& state) {
    const std::string xml = rows_text(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        ZPALIST_handle_typ list{};
        if (GM_XML_ParseBuf2List(xml.c_str(), "ROWS", &list) != CM_RC_OK) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(list.count);
        ZPALIST_clear(&list);
    }
}

void on_start(void*, const XML_Char*, const XML_Char**) {}
void on_end(void*, const XML_Char*) {}
void on_text(void*, const XML_Char*, int) {}

void BM_BareExpat(benchmark::State& state) {
    const std::string xml = rows_text(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        XML_Parser parser = XML_ParserCreate(nullptr);
        XML_SetElementHandler(parser, on_start, on_end);
        XML_SetCharacterDataHandler(parser, on_text);
        if (XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), 1) != XML_STATUS_OK)
            state.SkipWithError("parse failed");
        XML_ParserFree(parser);
    }
}

BENCHMARK(BM_XmlListReader)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_BareExpat)->Arg(100)->Arg(1000)->Arg(10000);

// Speed of the list reader as a share of the bare parse's (Expat's time over the reader's): 1 would
// mean the reader adds nothing to the parse.
const bench::Ratio kXml100("XML list reader speed / bare Expat, 100 rows", "BM_BareExpat/100", "BM_XmlListReader/100",
                           bench::at_least(0.8));
const bench::Ratio kXml1000("XML list reader speed / bare Expat, 1,000 rows", "BM_BareExpat/1000",
                            "BM_XmlListReader/1000", bench::at_least(0.8));
const bench::Ratio kXml10000("XML list reader speed / bare Expat, 10,000 rows", "BM_BareExpat/10000",
                             "BM_XmlListReader/10000", bench::at_least(0.8));

}  // namespace
