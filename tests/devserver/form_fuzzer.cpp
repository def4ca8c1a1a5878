// Request bytes -> form fields -> JSON text: the path every value takes from
// the network into a reply. Replies must stay pure ASCII whatever comes in.
#include "web/faults.h"
#include "web/form_codec.h"
#include "web/json_writer.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace devserver::web;
    const std::string input(reinterpret_cast<const char *>(data), size);
    for (const Charset charset : {Charset::Latin1, Charset::Utf8}) {
        const FormFields fields = FormFields::parse(input, charset == Charset::Latin1, charset);
        for (const auto &[key, value] : fields.pairs()) {
            const std::string json = JsonObject().add(key, value).str();
            for (const char c : json) {
                if (static_cast<unsigned char>(c) >= 0x80 || (static_cast<unsigned char>(c) < 0x20))
                    __builtin_trap();
            }
        }
    }
    FaultTable table;
    addFault(table, input);
    return 0;
}
