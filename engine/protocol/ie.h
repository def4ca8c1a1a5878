// Information elements: the type-length-value list carried by IAX frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace iax2 {

class IeBuilder {
public:
    // Texts longer than 255 bytes are cut at 255: an element cannot hold more.
    IeBuilder &text(std::uint8_t id, const std::string &value);
    IeBuilder &empty(std::uint8_t id);
    IeBuilder &u8(std::uint8_t id, std::uint8_t value);
    IeBuilder &u16(std::uint8_t id, std::uint16_t value);
    IeBuilder &u32(std::uint8_t id, std::uint32_t value);
    IeBuilder &raw(std::uint8_t id, const std::vector<std::uint8_t> &value);

    const std::vector<std::uint8_t> &bytes() const { return bytes_; }
    std::vector<std::uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
};

class IeList {
public:
    // Nothing when an element runs past the end of the data.
    static std::optional<IeList> parse(const std::uint8_t *data, std::size_t size);
    static std::optional<IeList> parse(const std::vector<std::uint8_t> &data)
    {
        return parse(data.data(), data.size());
    }

    bool has(std::uint8_t id) const { return find(id) != nullptr; }
    // The first element of that type; integers of the wrong width count as absent.
    std::optional<std::string> text(std::uint8_t id) const;
    std::optional<std::uint8_t> u8(std::uint8_t id) const;
    std::optional<std::uint16_t> u16(std::uint8_t id) const;
    std::optional<std::uint32_t> u32(std::uint8_t id) const;

    const std::vector<std::pair<std::uint8_t, std::string>> &elements() const { return elements_; }

private:
    const std::string *find(std::uint8_t id) const;
    std::vector<std::pair<std::uint8_t, std::string>> elements_;
};

} // namespace iax2
