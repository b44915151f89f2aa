#include "text.hpp"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(Lowercased, LettersOfCommonScripts) {
  EXPECT_EQ(lowercased("Safari TERMINAL"), "safari terminal");
  EXPECT_EQ(lowercased("ÉCOLE Ärger ×"), "école ärger ×");
  EXPECT_EQ(lowercased("ŁÓDŹ"), "łódź");
  EXPECT_EQ(lowercased("ΣΟΦΊΑ Москва"), "σοφία москва");
  EXPECT_EQ(lowercased("日本 \xFF"), "日本 \xFF");  // untouched, bad bytes included
}

}  // namespace
}  // namespace orvane
