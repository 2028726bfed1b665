#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "core/platform/file_error.h"
#include "core/platform/profile.h"
#include "tests/support/temp_dir.h"

namespace {

using quillet::ProfileDocument;
using quillet::testing::ReadBytes;
using quillet::testing::TempDir;
using quillet::testing::WriteBytes;

struct GetRow {
  const char* name;
  const char* text;
  const char* section;
  const char* key;
  std::optional<std::string> expected;
};

class ProfileGetTest : public ::testing::TestWithParam<GetRow> {};

TEST_P(ProfileGetTest, FindsTheValueWindowsWould) {
  const GetRow& row = GetParam();
  EXPECT_EQ(ProfileDocument(row.text).Get(row.section, row.key), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProfileGetTest,
    ::testing::Values(GetRow{"plain", "[S]\nk=v\n", "S", "k", "v"},
                      GetRow{"empty_document", "", "S", "k", std::nullopt},
                      GetRow{"missing_section", "[T]\nk=v\n", "S", "k", std::nullopt},
                      GetRow{"key_of_another_section", "[T]\nk=v\n[S]\nj=w\n", "S", "k", std::nullopt},
                      GetRow{"names_ignore_case", "[address FILTER]\nKey=v\n", "Address Filter", "kEY", "v"},
                      GetRow{"header_spaces_trimmed", "  [ S ]  \nk=v\n", "S", "k", "v"},
                      GetRow{"header_without_bracket", "[S\nk=v\n", "S", "k", "v"},
                      GetRow{"first_of_equal_keys_wins", "[S]\nk=first\nK=second\n", "S", "k", "first"},
                      GetRow{"first_of_equal_sections_wins", "[S]\na=1\n[S]\nk=late\n", "S", "k", std::nullopt},
                      GetRow{"value_trimmed", "[S]\n  k \t=  \t a  b \t \n", "S", "k", "a  b"},
                      GetRow{"double_quotes_dropped", "[S]\nk=\" a b \"\n", "S", "k", " a b "},
                      GetRow{"single_quotes_dropped", "[S]\nk='x'\n", "S", "k", "x"},
                      GetRow{"unmatched_quote_kept", "[S]\nk=\"x'\n", "S", "k", "\"x'"},
                      GetRow{"lone_quote_kept", "[S]\nk=\"\n", "S", "k", "\""},
                      GetRow{"comment_is_not_a_key", "[S]\n;k=v\n", "S", "k", std::nullopt},
                      GetRow{"key_without_equals_is_empty", "[S]\nk\n", "S", "k", ""},
                      GetRow{"empty_value", "[S]\nk=\n", "S", "k", ""},
                      GetRow{"second_equals_is_value", "[S]\nk=a=b\n", "S", "k", "a=b"},
                      GetRow{"crlf_lines", "[S]\r\nk=v\r\n", "S", "k", "v"},
                      GetRow{"cr_lines", "[S]\rj=w\rk=v\r", "S", "k", "v"},
                      GetRow{"mixed_lines", "[S]\rj=w\nk=v\r\n", "S", "k", "v"},
                      GetRow{"last_line_without_end", "[S]\nk=v", "S", "k", "v"},
                      GetRow{"byte_order_mark", "\xEF\xBB\xBF[S]\nk=v\n", "S", "k", "v"},
                      GetRow{"keys_before_any_section_ignored", "k=v\n[S]\n", "S", "k", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

enum class Op { set, remove };

struct EditRow {
  const char* name;
  const char* before;
  Op op;
  const char* key;
  const char* value;
  const char* after;
};

TEST(ProfileDuplicates, RemovingLaterDuplicatesKeepsTheFirstAndOtherSections) {
  ProfileDocument document("[S]\nk=1\nx=0\nK=2\nk=3\n[T]\nk=4\n");
  EXPECT_EQ(document.RemoveDuplicates("s", "k"), 2u);
  EXPECT_EQ(document.Text(), "[S]\nk=1\nx=0\n[T]\nk=4\n");
  EXPECT_EQ(document.RemoveDuplicates("S", "k"), 0u);
  EXPECT_EQ(document.RemoveDuplicates("S", "absent"), 0u);
}

TEST(ProfileDuplicates, RemovingTheFirstBringsTheNextToLight) {
  ProfileDocument document("[S]\nk=1\nj=0\nK=2\nx=9");
  ASSERT_TRUE(document.Remove("S", "k"));
  EXPECT_EQ(document.Get("S", "k"), "2");
  ASSERT_TRUE(document.Remove("S", "K"));
  EXPECT_EQ(document.Get("S", "k"), std::nullopt);
  EXPECT_FALSE(document.Remove("S", "k"));
  ASSERT_TRUE(document.Set("S", "k", "3"));
  EXPECT_EQ(document.Text(), "[S]\nj=0\nx=9\nk=3\n");
  ASSERT_TRUE(document.Remove("S", "x"));
  ASSERT_TRUE(document.Remove("S", "k"));
  ASSERT_TRUE(document.Remove("S", "j"));
  ASSERT_TRUE(document.Set("T", "y", "1"));
  EXPECT_EQ(document.Text(), "[S]\n\n[T]\ny=1\n");
}

TEST(ProfileScale, LongListsReadAndShrinkInOnePass) {
  std::string text = "[S]\n";
  for (int i = 0; i < 20000; ++i) text += std::to_string(i) + "=v" + std::to_string(i) + "\n";
  ProfileDocument document(text);
  for (int i = 0; i < 20000; ++i) ASSERT_EQ(document.Get("S", std::to_string(i)), "v" + std::to_string(i));
  for (int i = 19999; i >= 0; i -= 2) ASSERT_TRUE(document.Remove("S", std::to_string(i)));
  for (int i = 20000; i < 20010; ++i) ASSERT_TRUE(document.Set("S", std::to_string(i), "w"));
  EXPECT_EQ(document.Get("S", "19998"), "v19998");
  EXPECT_EQ(document.Get("S", "19999"), std::nullopt);
  EXPECT_TRUE(
      document.Text().ends_with("19998=v19998\n20000=w\n20001=w\n20002=w\n20003=w\n20004=w\n"
                                "20005=w\n20006=w\n20007=w\n20008=w\n20009=w\n"));
}

class ProfileEditTest : public ::testing::TestWithParam<EditRow> {};

TEST_P(ProfileEditTest, ChangesOnlyTheLineConcerned) {
  const EditRow& row = GetParam();
  ProfileDocument document(row.before);
  if (row.op == Op::set)
    EXPECT_TRUE(document.Set("Address Filter", row.key, row.value));
  else
    document.Remove("Address Filter", row.key);
  EXPECT_EQ(document.Text(), row.after);
  EXPECT_EQ(document.Modified(), std::string(row.before) != row.after);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProfileEditTest,
    ::testing::Values(
        EditRow{"new_file", "", Op::set, "0", "1 2", "[Address Filter]\n0=1 2\n"},
        EditRow{"replace_keeps_everything_else", "; mine\n[Other]\nx=1\n\n[Address Filter]\n; ranges\n0=old\n1=keep\n",
                Op::set, "0", "new", "; mine\n[Other]\nx=1\n\n[Address Filter]\n; ranges\n0=new\n1=keep\n"},
        EditRow{"replace_keeps_crlf", "[Address Filter]\r\n0=old\r\n", Op::set, "0", "new",
                "[Address Filter]\r\n0=new\r\n"},
        EditRow{"replace_keeps_spacing_and_key_spelling", "[address filter]\n  K0 = old\n", Op::set, "k0", "new",
                "[address filter]\n  K0 = new\n"},
        EditRow{"same_value_is_no_change", "[Address Filter]\n0=same\n", Op::set, "0", "same",
                "[Address Filter]\n0=same\n"},
        EditRow{"only_first_duplicate_replaced", "[Address Filter]\n0=a\n0=b\n", Op::set, "0", "c",
                "[Address Filter]\n0=c\n0=b\n"},
        EditRow{"key_without_equals_gets_value", "[Address Filter]\n0\n", Op::set, "0", "v", "[Address Filter]\n0=v\n"},
        EditRow{"new_key_after_last_key_before_next_section", "[Address Filter]\n0=a\n\n; next\n[Other]\n", Op::set,
                "1", "b", "[Address Filter]\n0=a\n1=b\n\n; next\n[Other]\n"},
        EditRow{"new_key_in_empty_section", "[Address Filter]\n[Other]\nx=1\n", Op::set, "0", "a",
                "[Address Filter]\n0=a\n[Other]\nx=1\n"},
        EditRow{"new_key_uses_crlf_of_file", "[Address Filter]\r\n0=a\r\n", Op::set, "1", "b",
                "[Address Filter]\r\n0=a\r\n1=b\r\n"},
        EditRow{"cr_file_keeps_its_line_ends", "[Address Filter]\r0=a\r\n1=b\r", Op::set, "2", "c",
                "[Address Filter]\r0=a\r\n1=b\r2=c\r"},
        EditRow{"new_key_after_unterminated_last_line", "[Address Filter]\n0=a", Op::set, "1", "b",
                "[Address Filter]\n0=a\n1=b\n"},
        EditRow{"new_section_after_blank_line", "[Other]\nx=1", Op::set, "0", "a",
                "[Other]\nx=1\n\n[Address Filter]\n0=a\n"},
        EditRow{"new_section_into_later_duplicate_is_not_made", "[Address Filter]\n[Address Filter]\n0=x\n", Op::set,
                "0", "a", "[Address Filter]\n0=a\n[Address Filter]\n0=x\n"},
        EditRow{"remove_only_that_line", "[Address Filter]\r\n0=a\r\n1=b\r\n[Other]\r\n1=c\r\n", Op::remove, "1", "",
                "[Address Filter]\r\n0=a\r\n[Other]\r\n1=c\r\n"},
        EditRow{"remove_keeps_empty_section", "[Address Filter]\n0=a\n", Op::remove, "0", "", "[Address Filter]\n"},
        EditRow{"remove_absent_key", "[Address Filter]\n0=a\n", Op::remove, "1", "", "[Address Filter]\n0=a\n"},
        EditRow{"remove_first_duplicate_only", "[Address Filter]\n0=a\n0=b\n", Op::remove, "0", "",
                "[Address Filter]\n0=b\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusedRow {
  const char* name;
  const char* section;
  const char* key;
  const char* value;
};

class ProfileRefusedTest : public ::testing::TestWithParam<RefusedRow> {};

TEST_P(ProfileRefusedTest, NameOrValueThatWouldBreakTheFileIsRefused) {
  const RefusedRow& row = GetParam();
  const std::string before = "[Address Filter]\n0=a\n";
  ProfileDocument document(before);
  EXPECT_FALSE(document.Set(row.section, row.key, row.value));
  EXPECT_EQ(document.Text(), before);
  EXPECT_FALSE(document.Modified());
}

INSTANTIATE_TEST_SUITE_P(Rows, ProfileRefusedTest,
                         ::testing::Values(RefusedRow{"newline_in_value", "Address Filter", "0", "a\n[X]"},
                                           RefusedRow{"cr_in_value", "Address Filter", "0", "a\rb"},
                                           RefusedRow{"equals_in_key", "Address Filter", "a=b", "v"},
                                           RefusedRow{"empty_key", "Address Filter", " ", "v"},
                                           RefusedRow{"comment_key", "Address Filter", ";0", "v"},
                                           RefusedRow{"bracket_key", "Address Filter", "[0", "v"},
                                           RefusedRow{"bracket_in_section", "A]B", "0", "v"},
                                           RefusedRow{"newline_in_section", "A\nB", "0", "v"}),
                         [](const auto& info) { return std::string(info.param.name); });

class ProfileFileTest : public ::testing::Test {
 protected:
  TempDir m_dir;
  std::string m_file = m_dir / "quillet.INI";
};

// The document round trip as the filter's storage drives it: Load, change, Save.
void SetAndSave(const std::string& file, std::string_view key, std::string_view value) {
  ProfileDocument document = ProfileDocument::Load(file);
  ASSERT_TRUE(document.Set("S", key, value));
  document.Save(file);
}

TEST_F(ProfileFileTest, MissingFileLoadsEmptyAndComesIntoBeingOnFirstSave) {
  ProfileDocument missing = ProfileDocument::Load(m_file);
  EXPECT_EQ(missing.Get("S", "k"), std::nullopt);
  EXPECT_FALSE(missing.Remove("S", "k"));
  EXPECT_FALSE(missing.Modified()) << "nothing to save, so no file is made";
  EXPECT_FALSE(std::filesystem::exists(m_file));
  SetAndSave(m_file, "k", std::string(300, 'A'));
  EXPECT_EQ(ReadBytes(m_file), "[S]\nk=" + std::string(300, 'A') + "\n") << "the file keeps the whole value";
  ProfileDocument loaded = ProfileDocument::Load(m_file);
  EXPECT_EQ(loaded.Get("s", "K"), std::string(300, 'A'));
  EXPECT_TRUE(loaded.Remove("S", "k"));
  loaded.Save(m_file);
  EXPECT_EQ(ReadBytes(m_file), "[S]\n");
}

TEST_F(ProfileFileTest, FailedSavesLeaveEverythingAsItWas) {
  const std::string before = "[S]\r\nk=old\r\n";
  WriteBytes(m_file, before);
  ProfileDocument document = ProfileDocument::Load(m_file);
  EXPECT_FALSE(document.Set("S", "k", "two\nlines"));
  EXPECT_FALSE(document.Modified());
  EXPECT_EQ(ReadBytes(m_file), before);

  ASSERT_TRUE(document.Set("S", "k", "v"));
  WriteBytes(m_dir / "plain", "x");
  EXPECT_THROW(document.Save(m_dir / "plain/quillet.INI"), quillet::FileError) << "parent is a file";
  EXPECT_THROW(document.Save(m_dir / "missing/quillet.INI"), quillet::FileError);
  EXPECT_FALSE(std::filesystem::exists(m_dir / "missing"));

  ASSERT_TRUE(std::filesystem::create_directory(m_dir / "folder.INI"));
  EXPECT_THROW((void)ProfileDocument::Load(m_dir / "folder.INI"), quillet::FileError);
  EXPECT_THROW(document.Save(m_dir / "folder.INI"), quillet::FileError);
  EXPECT_TRUE(std::filesystem::is_directory(m_dir / "folder.INI"));

  for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
    EXPECT_EQ(entry.path().filename().string().find(".quillet-"), std::string::npos)
        << "temporary file left behind: " << entry.path();
}

TEST_F(ProfileFileTest, SaveThroughALinkChangesTheLinkedFile) {
  const std::string real = m_dir / "real.INI";
  WriteBytes(real, "[S]\nk=old\n");
  ASSERT_EQ(::symlink("real.INI", m_file.c_str()), 0);
  SetAndSave(m_file, "k", "new");
  EXPECT_TRUE(std::filesystem::is_symlink(m_file));
  EXPECT_EQ(ReadBytes(real), "[S]\nk=new\n");
}

TEST_F(ProfileFileTest, SaveKeepsTheFilesPermissions) {
  WriteBytes(m_file, "[S]\nk=old\n");
  ASSERT_EQ(::chmod(m_file.c_str(), 0640), 0);
  SetAndSave(m_file, "k", "new");
  struct stat st {};
  ASSERT_EQ(::stat(m_file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

struct PathRow {
  const char* name;
  const char* workingDirectory;
  const char* executable;
  const char* expected;
};

class SettingsPathTest : public ::testing::TestWithParam<PathRow> {};

TEST_P(SettingsPathTest, WorkingDirectoryPlusExecutableName) {
  const PathRow& row = GetParam();
  EXPECT_EQ(quillet::SettingsPathFor(row.workingDirectory, row.executable), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SettingsPathTest,
    ::testing::Values(PathRow{"plain", "/home/u/work", "quillet", "/home/u/work/quillet.INI"},
                      PathRow{"root_not_doubled", "/", "quillet", "/quillet.INI"},
                      PathRow{"trailing_slash_not_doubled", "/work/", "quillet", "/work/quillet.INI"},
                      PathRow{"extension_replaced", "/w", "Quillet.EXE", "/w/Quillet.INI"},
                      PathRow{"only_last_extension", "/w", "my.tool.bin", "/w/my.tool.INI"},
                      PathRow{"executable_given_as_path", "/w", "/opt/q/bin/quillet", "/w/quillet.INI"},
                      PathRow{"folder_dot_is_not_extension", "/w", "/opt/q.d/quillet", "/w/quillet.INI"},
                      PathRow{"quotes_dropped", "\"/w x\"", "quillet", "/w x/quillet.INI"},
                      PathRow{"leading_quote_only", "\"/w", "quillet", "/w/quillet.INI"},
                      PathRow{"renamed_executable", "/w", "patchfinder", "/w/patchfinder.INI"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
