#pragma once

#include <exception>
#include <string>

namespace velmora {

/// The error's what(), or "неизвестная ошибка" for something that is no std::exception.
std::string descriptionOf(const std::exception_ptr& error);

}  // namespace velmora
