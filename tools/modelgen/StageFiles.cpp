#include "StageFiles.h"

#include <algorithm>

namespace modelgen
{

std::string modelFileName(Valve valve, const StageFile& file)
{
    return std::string("velmorant_pre_") + valveFileTag(valve) + "_" + file.suffix + ".dat";
}

std::vector<uint32_t> internalRates()
{
    std::vector<uint32_t> rates;
    for (uint32_t base : {44100u, 48000u, 88200u, 96000u, 176400u, 192000u})
        for (uint32_t factor : {1u, 2u, 4u, 8u, 16u})
            rates.push_back(base * factor);
    std::sort(rates.begin(), rates.end());
    rates.erase(std::unique(rates.begin(), rates.end()), rates.end());
    return rates;
}

} // namespace modelgen
