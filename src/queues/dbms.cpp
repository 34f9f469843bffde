#include "queues/dbms.h"

namespace dbms {

Return_Tql_Select_Data::Return_Tql_Select_Data(const Return_Tql_Select_Data& other)
    : status(other.status), details(other.details) {
  res.reserve(other.res.size());
  for (const auto& tree : other.res) {
    res.push_back(tree ? std::make_unique<tql::object_t>(*tree) : nullptr);
  }
}

Return_Tql_Select_Data& Return_Tql_Select_Data::operator=(const Return_Tql_Select_Data& other) {
  if (this != &other) *this = Return_Tql_Select_Data(other);
  return *this;
}

Return_Tql_Select_Patch_Data::Return_Tql_Select_Patch_Data(
    const Return_Tql_Select_Patch_Data& other)
    : id(other.id),
      patch(other.patch ? std::make_unique<tql::object_t>(*other.patch) : nullptr),
      seq(other.seq) {}

Return_Tql_Select_Patch_Data& Return_Tql_Select_Patch_Data::operator=(
    const Return_Tql_Select_Patch_Data& other) {
  if (this != &other) *this = Return_Tql_Select_Patch_Data(other);
  return *this;
}

}  // namespace dbms
