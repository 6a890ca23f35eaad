/* The extra printers and the XML Publisher layouts of a request or of one program of a request
 * set, added in the session through FND_REQUEST or FND_SUBMIT before the submission. Their
 * failures never stop the submission: they stay in the error record or the log. */
#include "be_def.h"
#include "be_job_internal.h"
#include "gm_str.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using be_job::attr;
using be_job::Block;
using be_job::cut;
using be_job::explain;
using be_job::name_of;

constexpr const char* kRequestPrinterSql =
    "BEGIN IF (FND_REQUEST.ADD_PRINTER(:printer,:copies)) THEN     :rc_code := 0; ELSE     :rc_code := 1; END IF; "
    "END;";
constexpr const char* kSetPrinterSql =
    "BEGIN IF (FND_SUBMIT.ADD_PRINTER(:printer,:copies)) THEN     :rc_code := 0; ELSE     :rc_code := 1; END IF; "
    "END;";

/* The four layout blocks: by package, and by whether the localization names a territory. */
#define BE_JOB_LAYOUT_BLOCK(language_query, package)                                                        \
    "DECLARE template_code VARCHAR2(40); default_language VARCHAR2(40); default_location VARCHAR2(40); "    \
    "BEGIN " language_query                                                                                 \
    " "                                                                                                     \
    "SELECT template.template_code INTO template_code FROM xdo_templates_vl template WHERE "                \
    "template.template_name = :template_name AND ds_app_short_name = :app_name AND TRUNC(SYSDATE) BETWEEN " \
    "start_date and NVL(end_date,TRUNC(SYSDATE)) AND ROWNUM <= 1; "                                         \
    "IF (" package                                                                                          \
    ".ADD_LAYOUT(:app_name,template_code,default_language,default_location,:template_type)) "               \
    "THEN :rc_code := 0; ELSE :rc_code := 1; END IF; END;"
#define BE_JOB_LANGUAGE_AND_TERRITORY                                                               \
    "SELECT lang.iso_language_2, terr.territory_code INTO default_language, default_location FROM " \
    "fnd_iso_languages_vl lang, fnd_territories_tl terr WHERE nvl(lang.name, ' ')||': '||"          \
    "nvl(terr.territory_short_name ,' ') = :localization AND ROWNUM <= 1;"
#define BE_JOB_LANGUAGE_ONLY                                                                   \
    "SELECT lang.iso_language_2, terr.territory INTO default_language, default_location FROM " \
    "fnd_iso_languages_vl lang, xdo_lobs terr WHERE nvl(lang.name, ' ') = :localization AND "  \
    "terr.territory = '00' AND ROWNUM <= 1;"

constexpr const char* kRequestLayoutTerritorySql = BE_JOB_LAYOUT_BLOCK(BE_JOB_LANGUAGE_AND_TERRITORY, "FND_REQUEST");
constexpr const char* kRequestLayoutSql = BE_JOB_LAYOUT_BLOCK(BE_JOB_LANGUAGE_ONLY, "FND_REQUEST");
constexpr const char* kSetLayoutTerritorySql = BE_JOB_LAYOUT_BLOCK(BE_JOB_LANGUAGE_AND_TERRITORY, "FND_SUBMIT");
constexpr const char* kSetLayoutSql = BE_JOB_LAYOUT_BLOCK(BE_JOB_LANGUAGE_ONLY, "FND_SUBMIT");

constexpr const char* kXmlPublisherView = "XDO_TEMPLATES_VL";
/* Lengths at which printer and layout texts are cut. */
constexpr std::size_t kPrinterNameMax = 30;
constexpr std::size_t kLayoutNameMax = 100;
constexpr std::size_t kLayoutLangMax = 203;
constexpr std::size_t kLayoutTypeMax = 100;
/* Indexes of the extra printers and of the layouts. */
constexpr int kPrintersMax = 1000;
constexpr int kLayoutsMax = 999;

/* The extra printers, index 2 on: the set variant (set_index > 0) reads the program's attributes
 * and calls FND_SUBMIT. */
ZPARC add_printers(BE_DUZ_Handles* session, ZPAAttrList* AttributesIn, int set_index, ZPAError* Error) {
    const bool set = set_index > 0;
    const char* function = set ? "BE_DUZ_set_add_printers" : "BE_DUZ_add_printers";
    ZPARC result = 0;
    for (int i = 2; i <= kPrintersMax; ++i) {
        const std::string name_key = set ? name_of("DUZ-SETPROG-P%.3d-PRINTERS-P%.3d-NAME", set_index, i)
                                         : name_of("DUZ-PRINTERS-P%.3d-NAME", i);
        const char* name = attr(AttributesIn, name_key.c_str());
        if (name == nullptr) {
            BE_TRACE(4, "Can't find %s. ending %s", name_key.c_str(), function);
            break;
        }
        const std::string value_key = set ? name_of("DUZ-SETPROG-P%.3d-PRINTERS-P%.3d-VALUE", set_index, i)
                                          : name_of("DUZ-PRINTERS-P%.3d-VALUE", i);
        const char* value = attr(AttributesIn, value_key.c_str());
        if (value == nullptr) {
            BE_TRACE(4, "Can't find %s. ending %s", value_key.c_str(), function);
            break;
        }
        int copies = 1;
        if (GM_STR_isunsignednumber(value) == CM_RC_OK) {
            const long n = std::strtol(value, nullptr, 10);
            copies = n > INT_MAX ? INT_MAX : static_cast<int>(n);
        } else {
            OS_MSGERR_display("print copies will be set to %d", 1);
            BE_TRACE(2, "Input value '%s' is not valid for '%s'", value, value_key.c_str());
        }
        Block block(session, Error);
        block.text(":printer", cut(name, kPrinterNameMax), static_cast<int>(kPrinterNameMax + 1))
            .number(":copies", copies)
            .rc_code();
        const ZPARC rc = block.run(set ? kSetPrinterSql : kRequestPrinterSql);
        if (rc != 0) {
            if (block.failed_step() == Block::Step::Prepare) {
                BE_TRACE(2, set ? "Fail to prepare BE_DUZ_REQUEST_SET_PRINT_SQL"
                                : "Fail to prepare BE_DUZ_REQUEST_ADD_PRINTERS");
            } else if (block.failed_step() == Block::Step::Bind) {
                BE_TRACE(2, "Fail to bind %s.", block.failed_bind());
            } else {
                explain(Error, set ? "Fail to execute BE_DUZ_REQUEST_SET_ADD_PRINTERS."
                                   : "Fail to execute BE_DUZ_REQUEST_ADD_PRINTERS.");
            }
            return rc;
        }
        if (block.code() != 0) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Fail to add printers.");
            result = 1;
            continue;
        }
        BE_TRACE(4, "Successfully add printers");
    }
    return result;
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_add_printers(BE_DUZ_Handles* JOB_handle, ZPAAttrList* AttributesIn, ZPAError* Error) {
    try {
        return add_printers(JOB_handle, AttributesIn, 0, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_add_printers");
        return 1;
    }
}

ZPARC BE_DUZ_set_add_printers(BE_DUZ_Handles* JOB_handle, ZPAAttrList* AttributesIn, int index, ZPAError* Error) {
    if (index < 1) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: set program index %d is not valid", "BE_DUZ_set_add_printers", index);
        return 1;
    }
    try {
        return add_printers(JOB_handle, AttributesIn, index, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_set_add_printers");
        return 1;
    }
}

ZPARC BE_DUZ_add_layouts(BE_DUZ_Handles* JOB_handle, ZPAAttrList* AttributesIn, ZPAError* Error,
                         const char* app_name_str, int request_num) {
    try {
        /* The check's own failure is only logged: the record keeps what the caller had there. */
        ZPAError check_error{};
        int exists = 0;
        if (BE_DUZ_check_entity_exist(JOB_handle, const_cast<char*>(kXmlPublisherView), VIEW_ENTITY_TYPE,
                                      ALL_SEARCH_SCOPE, &exists, &check_error) != 0) {
            BE_TRACE(2, "Unable to check if XML Publisher is installed - Layouts not allowed");
            return 0;
        }
        if (exists == 0) {
            BE_TRACE(2, "XML Publisher is not installed in Oracle - Layouts not allowed ");
            return 0;
        }
        const bool set = request_num > 0;
        const std::string app_name = app_name_str != nullptr ? app_name_str : "";
        for (int i = 1; i <= kLayoutsMax; ++i) {
            auto key = [&](const char* part) {
                return set ? name_of("DUZ-SETPROG-P%.3d-LOUT-P%.3d-%s", request_num, i, part)
                           : name_of("DUZ-LOUT-P%.3d-%s", i, part);
            };
            const std::string name_key = key("NAME");
            const char* name = attr(AttributesIn, name_key.c_str());
            if (name == nullptr) {
                BE_TRACE(4, "\tCan't find %s. ending %s", name_key.c_str(), "BE_DUZ_add_layouts");
                break;
            }
            const char* lang = attr(AttributesIn, key("LANG").c_str());
            if (lang == nullptr) {
                BE_TRACE(2, "Can't Set Layout Lang");
                break;
            }
            const char* type = attr(AttributesIn, key("TYPE").c_str());
            if (type == nullptr) {
                BE_TRACE(2, "Can't Set Layout Type");
                break;
            }
            const bool territory = std::strchr(lang, ':') != nullptr;
            const char* sql = set ? (territory ? kSetLayoutTerritorySql : kSetLayoutSql)
                                  : (territory ? kRequestLayoutTerritorySql : kRequestLayoutSql);
            Block block(JOB_handle, Error);
            block.text(":app_name", app_name)
                .text(":template_name", cut(name, kLayoutNameMax))
                .text(":localization", cut(lang, kLayoutLangMax))
                .text(":template_type", cut(type, kLayoutTypeMax))
                .rc_code();
            if (block.run(sql) != 0) {
                if (block.failed_step() == Block::Step::Prepare) {
                    BE_TRACE(2, "Fail to prepare BE_DUZ_REQUEST_ADD_LAYOUTS");
                } else if (block.failed_step() == Block::Step::Bind) {
                    BE_TRACE(2, "Fail to bind %s. %s", block.failed_bind(), Error != nullptr ? Error->text : "");
                } else {
                    explain(Error, "Fail to execute BE_DUZ_REQUEST_ADD_LAYOUT.");
                }
                break;
            }
            if (block.code() != 0) {
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to add layout.");
                continue;
            }
            BE_TRACE(4, "Successfully added layout");
        }
        return 0;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_add_layouts");
        return 1;
    }
}

CM_EXTERN_C_END
