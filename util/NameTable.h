// Names that many items share, each held once: an item holds the name's
// number instead of a copy, so a long name repeated on every face of a
// file costs its bytes once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TNameTable
{
public:
    TNameTable() { Clear(); }

    // Number 0 is the empty name, which every table holds from the start.
    void Clear()
    {
        FNames.assign(1, std::string());
        FNumbers.clear();
        FNumbers.emplace(std::string(), 0);
    }
    // The number of Name, which is added when the table does not hold it yet.
    std::uint32_t Add(std::string_view Name)
    {
        const auto found = FNumbers.find(std::string(Name));
        if (found != FNumbers.end())
            return found->second;
        const auto number = static_cast<std::uint32_t>(FNames.size());
        FNames.emplace_back(Name);
        FNumbers.emplace(FNames.back(), number);
        return number;
    }
    // The name of a number; the empty name for a number the table does not hold.
    const std::string& Name(std::uint32_t Number) const
    {
        return Number < FNames.size() ? FNames[Number] : FNames[0];
    }
    // The names in the order of their numbers.
    const std::vector<std::string>& Names() const { return FNames; }

private:
    std::vector<std::string> FNames;
    std::unordered_map<std::string, std::uint32_t> FNumbers;
};
