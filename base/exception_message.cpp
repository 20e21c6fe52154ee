#include "base/exception_message.hpp"

namespace fenrix {

std::string exception_message(const std::exception& e)
{
    std::string text = e.what();
    try {
        std::rethrow_if_nested(e);
    } catch (const std::exception& nested) {
        text += ": ";
        text += exception_message(nested);
    } catch (...) {
        // A nested object that is not a std::exception adds nothing.
    }
    return text;
}

}  // namespace fenrix
