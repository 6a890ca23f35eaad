// Inside of the alert watcher (not exported): the table of stage functions the main loop walks,
// so that the loop runs the product's stages and tests run it with stages of their own.
#pragma once

#include <functional>
#include <string>

#include "be_ow.h"

namespace ow {

// One function per stage of a watching pass. An empty function leaves its stage out.
struct Stages {
    std::function<CM_RC(int* level, ZPAError* Error)> debug_level;
    std::function<int(EW_cfg_file_params_type* config, char* mark, ZPAError* Error)> load_config;
    std::function<int(ZPALIST_handle_typ* rules, ZPALIST_handle_typ* accounts, char* mark, ZPAError* Error)> load_rules;
    std::function<int(ZPALIST_handle_typ* rules, ZPALIST_handle_typ* accounts, EW_cfg_file_params_type* config,
                      ZPAError* Error)>
        account_pass;
    std::function<CM_RC(ZPALIST_handle_typ* queue, ZPAError* Error)> load_queue;
    std::function<CM_RC(ZPALIST_handle_typ* queue, EW_cfg_file_params_type* config, ZPAError* Error)> run_queue;
    std::function<int(const char* message, ZPAError* Error)> shout;
    std::function<int(int seconds)> sleep;  // 1 when an exit was requested
};

// The product's stages.
Stages product_stages();

// The watching loop over the given stages (OW_MAIN_watching_loop runs it with product_stages()).
CM_RC watching_loop(int ow_debug_level, ZPAError* Error, const Stages& stages);

// The watcher's sleep: total_sleep_time / 6 slices (at least one) of `nap` (6 seconds each), the
// exit-request flag tested after each. 1 when an exit was requested.
int sleep_in_slices(int total_sleep_time, const std::function<void(int seconds)>& nap);

// Releases an attribute list allocated with its record (job variables, alert outputs) and nulls it.
void free_attrs(ZPAAttrList*& list);

// "Agent name: <LOGICAL_AGENT_NAME>. <msg>", or msg alone when that would not stay below 1024
// characters.
std::string shout_text(const char* msg);

}  // namespace ow
