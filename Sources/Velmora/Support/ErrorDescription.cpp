#include "Velmora/Support/ErrorDescription.hpp"

#include <stdexcept>

namespace velmora {

std::string descriptionOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "неизвестная ошибка";
    }
}

}  // namespace velmora
