// The printer model a PPD names by its Product string.
#pragma once

#include <optional>

#include "zeru/printer.h"

// The model whose Product string is `product` exactly ("(ZEMRO TX 7M)", ...);
// none for another printer's or no Product.
std::optional<zeru::Model> modelForProduct(const char* product);
