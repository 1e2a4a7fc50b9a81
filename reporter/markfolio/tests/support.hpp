#pragma once
// Helpers for the XML writer's tests: a clock that ticks, temporary folders, file reading and
// validation against the shipped XML Schemas.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xmlschemas.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "morvi/datetime.hpp"
#include "morvi/testing/files.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "morvi/utils/utils.hpp"

namespace morvi::test {

// A clock that moves one second (and a quarter) per reading, from 2024-05-01 10:00:00.
class TickingClock {
 public:
  TickingClock()
      : clock_([this] { return DateTime(2024, 5, 1, 10, 0, ticks_++ % 60, 250000, 120); }) {}

 private:
  int ticks_ = 0;
  utils::ScopedClock clock_;
};

// A fresh folder under the build tree, removed at the end of the test.
using TempDir = morvi::testing::ScratchDir;

inline std::filesystem::path schema_path(const std::string& name) {
  return morvi::testing::source_dir() / "docs" / "schemas" / name;
}

// Empty when `file` is valid against the schema `schema_name`; libxml2's messages otherwise.
inline std::string schema_errors(const std::filesystem::path& file,
                                 const std::string& schema_name) {
  std::string errors;
  std::unique_ptr<xmlSchemaParserCtxt, decltype(&xmlSchemaFreeParserCtxt)> parser(
      xmlSchemaNewParserCtxt(schema_path(schema_name).c_str()), xmlSchemaFreeParserCtxt);
  std::unique_ptr<xmlSchema, decltype(&xmlSchemaFree)> schema(xmlSchemaParse(parser.get()),
                                                             xmlSchemaFree);
  if (!schema) return "cannot load " + schema_name;
  std::unique_ptr<xmlSchemaValidCtxt, decltype(&xmlSchemaFreeValidCtxt)> validator(
      xmlSchemaNewValidCtxt(schema.get()), xmlSchemaFreeValidCtxt);
  xmlSchemaSetValidStructuredErrors(
      validator.get(),
      [](void* sink, xmlErrorPtr e) {
        static_cast<std::string*>(sink)->append(e->message ? e->message : "?");
      },
      &errors);
  std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
      xmlReadFile(file.c_str(), nullptr, XML_PARSE_HUGE | XML_PARSE_NONET), xmlFreeDoc);
  if (!doc) return "cannot parse " + file.string();
  if (xmlSchemaValidateDoc(validator.get(), doc.get()) != 0 && errors.empty()) {
    errors = "invalid";
  }
  return errors;
}

}  // namespace morvi::test
