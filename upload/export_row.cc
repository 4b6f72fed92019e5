// Building export lines from source rows.
#include "upload/export_row.h"

namespace agent {

ExportRow::ExportRow(const MirrorDescription& description, const Recordset& rows,
                     const RegionalSettings& regional)
    : rows_(rows), regional_(regional), texts_(description.columns.size()) {
  for (const MirrorColumn& mirrorColumn : description.columns) {
    const ExportField& field = mirrorColumn.field;
    Binding binding{&field};
    if (field.kind != ExportField::Kind::Constant) binding.column = rows.fieldIndex(field.column);
    if (field.kind == ExportField::Kind::Joined) binding.second = rows.fieldIndex(field.second);
    bindings_.push_back(binding);
  }
}

std::span<const std::string> ExportRow::build() {
  for (std::size_t i = 0; i < bindings_.size(); ++i) {
    const Binding& b = bindings_[i];
    switch (b.field->kind) {
      case ExportField::Kind::Constant:
        texts_[i] = b.field->constant;
        break;
      case ExportField::Kind::Source:
        texts_[i] = convertValue(rows_.field(b.column), b.field->conversion, regional_);
        break;
      case ExportField::Kind::Joined:
        texts_[i] = convertValue(rows_.field(b.column), b.field->conversion, regional_) +
                    convertValue(rows_.field(b.second), b.field->conversion, regional_);
        break;
    }
  }
  return texts_;
}

}  // namespace agent
