#include "filter/product_model.h"

#include <cstring>

std::optional<zeru::Model> modelForProduct(const char* product) {
  if (product == nullptr) return std::nullopt;
  for (const zeru::ModelDescription& model : zeru::models())
    if (strcmp(model.product, product) == 0) return model.model;
  return std::nullopt;
}
