#include "ie.h"

#include <algorithm>

namespace iax2 {

IeBuilder &IeBuilder::raw(std::uint8_t id, const std::vector<std::uint8_t> &value)
{
    const std::size_t len = std::min<std::size_t>(value.size(), 255);
    bytes_.push_back(id);
    bytes_.push_back(static_cast<std::uint8_t>(len));
    bytes_.insert(bytes_.end(), value.begin(), value.begin() + static_cast<std::ptrdiff_t>(len));
    return *this;
}

IeBuilder &IeBuilder::text(std::uint8_t id, const std::string &value)
{
    return raw(id, std::vector<std::uint8_t>(value.begin(), value.end()));
}

IeBuilder &IeBuilder::empty(std::uint8_t id)
{
    return raw(id, {});
}

IeBuilder &IeBuilder::u8(std::uint8_t id, std::uint8_t value)
{
    return raw(id, {value});
}

IeBuilder &IeBuilder::u16(std::uint8_t id, std::uint16_t value)
{
    return raw(id, {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}

IeBuilder &IeBuilder::u32(std::uint8_t id, std::uint32_t value)
{
    return raw(id, {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
                    static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}

std::optional<IeList> IeList::parse(const std::uint8_t *data, std::size_t size)
{
    IeList list;
    std::size_t pos = 0;
    while (pos < size) {
        if (size - pos < 2)
            return std::nullopt;
        const std::uint8_t id = data[pos];
        const std::size_t len = data[pos + 1];
        pos += 2;
        if (size - pos < len)
            return std::nullopt;
        list.elements_.emplace_back(id, std::string(reinterpret_cast<const char *>(data + pos), len));
        pos += len;
    }
    return list;
}

const std::string *IeList::find(std::uint8_t id) const
{
    for (const auto &e : elements_)
        if (e.first == id)
            return &e.second;
    return nullptr;
}

std::optional<std::string> IeList::text(std::uint8_t id) const
{
    if (const auto *v = find(id))
        return *v;
    return std::nullopt;
}

namespace {
std::optional<std::uint32_t> readInt(const std::string *v, std::size_t width)
{
    if (!v || v->size() != width)
        return std::nullopt;
    std::uint32_t out = 0;
    for (unsigned char c : *v)
        out = (out << 8) | c;
    return out;
}
} // namespace

std::optional<std::uint8_t> IeList::u8(std::uint8_t id) const
{
    if (auto v = readInt(find(id), 1))
        return static_cast<std::uint8_t>(*v);
    return std::nullopt;
}

std::optional<std::uint16_t> IeList::u16(std::uint8_t id) const
{
    if (auto v = readInt(find(id), 2))
        return static_cast<std::uint16_t>(*v);
    return std::nullopt;
}

std::optional<std::uint32_t> IeList::u32(std::uint8_t id) const
{
    return readInt(find(id), 4);
}

} // namespace iax2
