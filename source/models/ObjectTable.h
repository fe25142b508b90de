#pragma once

#include "ByteReader.h"
#include "RecordFields.h"

#include <memory>
#include <string>
#include <vector>

// Helpers for the pointer tables of the model file hierarchy (groups, chunks, records).

// "" when the table holds `count` entries and each passes `check` (which returns "" or a reason);
// otherwise the first problem, prefixed with the entry's kind and index.
template <typename Item, typename Check>
std::string checkTable(const char* kind, const std::vector<std::unique_ptr<Item>>& table, uint32_t count, Check check)
{
    std::string reason = lengthMismatch((std::string("the ") + kind + " table").c_str(), table.size(), count);
    for (std::size_t k = 0; reason.empty() && k < table.size(); ++k)
    {
        reason = table[k] ? check(*table[k]) : std::string("is missing");
        if (!reason.empty())
            reason = std::string(kind) + " " + std::to_string(k) + ": " + reason;
    }
    return reason;
}

// Reads a group count and that many groups into a new table; on success replaces `groups`.
template <typename Group>
bool readGroupTable(ByteReader& in, std::vector<std::unique_ptr<Group>>& groups, uint32_t& groupCount,
                    uint64_t groupHeaderBytes)
{
    uint32_t count = 0;
    if (!in.readU32(count, "groupCount") || !in.holds(count, groupHeaderBytes, "groups"))
        return false;
    std::vector<std::unique_ptr<Group>> parsed;
    for (uint32_t k = 0; k < count; ++k)
    {
        parsed.push_back(std::make_unique<Group>());
        if (!parsed.back()->read(in))
            return in.failIn("group " + std::to_string(k));
    }
    groups = std::move(parsed);
    groupCount = count;
    return true;
}

// Reads `count` items, each made by `make` and filled by its read, into the table.
template <typename Item, typename Make>
bool readTable(ByteReader& in, const char* kind, std::vector<std::unique_ptr<Item>>& table, uint32_t count, Make make)
{
    for (uint32_t k = 0; k < count; ++k)
    {
        table[k] = make();
        if (!table[k]->read(in))
            return in.failIn(std::string(kind) + " " + std::to_string(k));
    }
    return true;
}

// Sets the size fields of a group, its chunks and their records from their counts.
template <typename Group>
void computeGroupSizes(Group& group, uint64_t groupHeaderBytes)
{
    group.headerSize = group.totalSize = static_cast<uint32_t>(groupHeaderBytes);
    for (auto& chunk : group.chunks)
    {
        chunk->headerSize = chunk->totalSize = static_cast<uint32_t>(chunk->headerBytes());
        for (auto& net : chunk->nets)
        {
            net->totalSize = static_cast<uint32_t>(net->byteSize());
            chunk->totalSize += net->totalSize;
        }
        group.totalSize += chunk->totalSize;
    }
}

// Bytes of a chunk (or, with its header size, a group) with everything it holds.
template <typename Container>
uint64_t nestedByteSize(uint64_t headerBytes, const Container& children)
{
    uint64_t bytes = headerBytes;
    for (const auto& child : children)
        bytes += child->byteSize();
    return bytes;
}
