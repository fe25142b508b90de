#pragma once

#include "ByteReader.h"
#include "RecordFields.h"

#include <memory>
#include <string>
#include <utility>
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

// Reads a group count and that many groups into a fresh file object (through its allocGroups), and
// only when every group has read hands them to `file`: a failure leaves `file` as it was.
template <typename File>
bool readGroupsAllOrNothing(File& file, ByteReader& in, uint64_t groupHeaderBytes)
{
    uint32_t count = 0;
    if (!in.readU32(count, "groupCount") || !in.holds(count, groupHeaderBytes, "groups"))
        return false;
    File staged;
    staged.allocGroups(count);
    for (uint32_t k = 0; k < count; ++k)
        if (!staged.groups[k]->read(in))
            return in.failIn("group " + std::to_string(k));
    file.groups.swap(staged.groups);
    file.groupCount = count;
    return true;
}

// Reads every entry of a table in order, each after `prepare(k)` has put a new one in place.
template <typename Item, typename Prepare>
bool readEach(ByteReader& in, const char* kind, std::vector<std::unique_ptr<Item>>& table, Prepare prepare)
{
    for (std::size_t k = 0; k < table.size(); ++k)
    {
        prepare(static_cast<uint32_t>(k));
        if (!table[k]->read(in))
            return in.failIn(std::string(kind) + " " + std::to_string(k));
    }
    return true;
}

// Reads every entry of a table that holds its new entries already.
template <typename Item>
bool readEach(ByteReader& in, const char* kind, std::vector<std::unique_ptr<Item>>& table)
{
    return readEach(in, kind, table, [](uint32_t) {});
}

// Reads one chunk or record from an image of `length` bytes into `staged`, a new object with the
// counts of `item`, and only when it reads whole replaces `item` by it. Returns the bytes consumed,
// 0 when the image does not hold a whole one.
template <typename Item>
uint32_t readFromImage(Item& item, Item staged, const void* image, std::size_t length)
{
    ByteReader in(image, length);
    if (!staged.read(in))
        return 0;
    item = std::move(staged);
    return static_cast<uint32_t>(in.bytesConsumed());
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
