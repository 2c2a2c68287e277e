// What the bench maintenance commands show and make: a new bench of N blank hubs, and the
// state of each hub (the identity it reports now, its configuration block decoded, its
// firmware area). The text form is made from the JSON form, so both say the same.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "platform/sim/SimBench.h"

// Writes DIR/bench.json with N hubs (hub1..hubN) on the ports of one controller, USB 3
// unless bUsb2, and their blank flash files. Refuses to overwrite an existing bench file.
bool bWriteNewSimBench(const std::string& strDir, int nHubs, bool bUsb2, nlohmann::json& result,
                       std::string& strError);

// All hubs (nHub < 0) in brief, or one hub with its configuration block and firmware area.
nlohmann::json jsonSimBenchShow(CSimBench& bench, int nHub);
std::string strSimBenchShowText(const nlohmann::json& j);

// Flash bytes of a hub (whole-flash offsets), as JSON with a hex dump.
nlohmann::json jsonSimFlashDump(CSimBench& bench, int nHub, size_t ulOffset, size_t ulLen);
std::string strSimFlashDumpText(const nlohmann::json& j);
