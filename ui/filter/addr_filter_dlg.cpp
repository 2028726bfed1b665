#include "ui/filter/addr_filter_dlg.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>

#include <utility>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/filter/filter_storage.h"
#include "core/vkp/hex_string.h"
#include "ui/common/dialog_units.h"
#include "ui/common/user_prompts.h"
#include "ui/common/window_text.h"

namespace quillet {

namespace {

constexpr int kTemplateWidth = 227;
constexpr int kTemplateHeight = 143;
constexpr int kRangeColumnWidth = 200;  // pixels, not dialog units
constexpr int kLengthColumnWidth = 99;
constexpr char kRangeSeparator[] = " - ";

std::string TextOf(const QLineEdit* edit) { return edit->text().toStdString(); }

// A field counts only when it holds something: an empty edit is not the number 0.
bool IsValidField(const std::string& value) { return !value.empty() && IsHexString(value); }

std::uint32_t AbsoluteDifference(std::uint32_t a, std::uint32_t b) { return a <= b ? b - a : a - b; }

// A row keeps its range as values, beside the texts it shows.
constexpr int kStartRole = Qt::UserRole;
constexpr int kEndRole = Qt::UserRole + 1;

std::uint32_t RangeValue(const QTreeWidgetItem* item, int role) { return item->data(0, role).value<std::uint32_t>(); }

}  // namespace

CAddrFilterDlg::CAddrFilterDlg(std::string settingsPath, const AddressFilter& filter, IUserPrompts& prompts,
                               QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_settingsPath(std::move(settingsPath)),
      m_filter(filter),
      m_prompts(prompts) {
  setObjectName(QStringLiteral("IDD_ADDR_FILTER"));
  setWindowTitle(QString::fromUtf8(text::kFilterTitle));
  setFont(DialogUnits::DialogFont());
  const DialogUnits units(font());

  const auto label = [&](const char* caption, int x) {
    auto* widget = new QLabel(QString::fromUtf8(caption), this);
    widget->setGeometry(units.rect(x, 7, 66, 8));
    return widget;
  };
  const auto edit = [&](const char* name, int x, QLabel* caption) {
    auto* widget = new QLineEdit(this);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(units.rect(x, 15, 66, 14));
    widget->setAccessibleName(caption->text());
    caption->setBuddy(widget);
    return widget;
  };
  const auto button = [&](const char* name, const char* caption, const QRect& rect) {
    auto* widget = new QPushButton(QString::fromUtf8(caption), this);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(rect);
    return widget;
  };

  QLabel* startLabel = label(text::kRangeStartLabel, 7);
  QLabel* endLabel = label(text::kRangeEndLabel, 74);
  QLabel* lengthLabel = label(text::kRangeSizeLabel, 141);
  m_start = edit("IDC_RANGE_START", 7, startLabel);
  m_end = edit("IDC_RANGE_END", 74, endLabel);
  m_length = edit("IDC_RANGE_LENGTH", 141, lengthLabel);

  m_rangeList = new QTreeWidget(this);
  m_rangeList->setObjectName(QStringLiteral("IDC_RANGE_LIST"));
  m_rangeList->setAccessibleName(QString::fromUtf8(text::kAccRangeList));
  m_rangeList->setGeometry(units.rect(7, 29, 213, 93));
  m_rangeList->setRootIsDecorated(false);
  m_rangeList->setUniformRowHeights(true);
  m_rangeList->setAllColumnsShowFocus(true);
  m_rangeList->setSelectionMode(QAbstractItemView::ExtendedSelection);

  m_add = button("IDC_RANGE_ADD", text::kRangeAdd, units.rect(7, 122, 52, 14));
  m_delete = button("IDC_RANGE_DELETE", text::kRangeDelete, units.rect(60, 122, 52, 14));
  m_ok = button("IDOK", text::kOk, units.rect(113, 122, 53, 14));
  m_cancel = button("IDCANCEL", text::kCancel, units.rect(167, 122, 53, 14));
  // Enter adds the typed range; it never closes the dialog.
  m_add->setDefault(true);

  setTabOrder(m_start, m_end);
  setTabOrder(m_end, m_length);
  setTabOrder(m_length, m_rangeList);
  setTabOrder(m_rangeList, m_add);
  setTabOrder(m_add, m_delete);
  setTabOrder(m_delete, m_ok);
  setTabOrder(m_ok, m_cancel);

  connect(m_start, &QLineEdit::textChanged, this, &CAddrFilterDlg::OnChangeRangeStart);
  connect(m_end, &QLineEdit::textChanged, this, &CAddrFilterDlg::OnChangeRangeEnd);
  connect(m_length, &QLineEdit::textChanged, this, &CAddrFilterDlg::OnChangeRangeLength);
  connect(m_add, &QPushButton::clicked, this, &CAddrFilterDlg::OnRangeAdd);
  connect(m_delete, &QPushButton::clicked, this, &CAddrFilterDlg::OnRangeDelete);
  connect(m_ok, &QPushButton::clicked, this, &CAddrFilterDlg::accept);
  connect(m_cancel, &QPushButton::clicked, this, &CAddrFilterDlg::reject);
  connect(m_rangeList, &QTreeWidget::itemDoubleClicked, this, &CAddrFilterDlg::OnDblclkRangeList);

  setFixedSize(units.size(kTemplateWidth, kTemplateHeight));
  OnInitDialog();
}

CAddrFilterDlg::~CAddrFilterDlg() = default;

void CAddrFilterDlg::OnInitDialog() {
  m_rangeList->setHeaderLabels({QString::fromUtf8(text::kColumnRange), QString::fromUtf8(text::kColumnLength)});
  m_rangeList->setColumnWidth(0, kRangeColumnWidth);
  m_rangeList->setColumnWidth(1, kLengthColumnWidth);
  m_rangeList->headerItem()->setTextAlignment(0, Qt::AlignLeft | Qt::AlignVCenter);
  m_rangeList->headerItem()->setTextAlignment(1, Qt::AlignLeft | Qt::AlignVCenter);
  // Sorted by the first column's text, ascending for good: setSortingEnabled
  // alone would sort descending, and a header click would reverse the order.
  m_rangeList->setSortingEnabled(true);
  m_rangeList->sortByColumn(0, Qt::AscendingOrder);
  m_rangeList->header()->setSectionsClickable(false);
  m_rangeList->header()->setSortIndicatorShown(false);

  for (const AddressRange& range : m_filter.Ranges()) AddRow(range.start, range.end);
  m_start->setFocus();
}

void CAddrFilterDlg::WriteSuppressed(QLineEdit* edit, const std::string& value) {
  // A field written by the dialog itself is no edit that the others follow.
  const QSignalBlocker blocker(edit);
  edit->setText(QString::fromStdString(value));
}

void CAddrFilterDlg::SyncLength(const QLineEdit* other) {
  const std::string otherText = TextOf(other);
  if (!IsValidField(otherText)) return;
  const std::uint32_t start = HexStringToInt(TextOf(m_start));
  const std::uint32_t end = HexStringToInt(TextOf(m_end));
  WriteSuppressed(m_length, quillet::FormatAddress(AbsoluteDifference(start, end)));
}

void CAddrFilterDlg::OnChangeRangeStart() { SyncLength(m_end); }

void CAddrFilterDlg::OnChangeRangeEnd() { SyncLength(m_start); }

void CAddrFilterDlg::OnChangeRangeLength() {
  const std::string start = TextOf(m_start);
  if (!IsValidField(start)) return;
  // Unsigned arithmetic: the end wraps at 32 bits, as the addresses do.
  const std::uint32_t end = HexStringToInt(start) + HexStringToInt(TextOf(m_length));
  WriteSuppressed(m_end, quillet::FormatAddress(end));
}

void CAddrFilterDlg::AddRow(std::uint32_t start, std::uint32_t end) {
  auto* item = new QTreeWidgetItem;
  item->setText(0,
                QString::fromStdString(quillet::FormatAddress(start) + kRangeSeparator + quillet::FormatAddress(end)));
  item->setText(1, QString::fromStdString(quillet::FormatAddress(end - start)));
  item->setData(0, kStartRole, QVariant::fromValue(start));
  item->setData(0, kEndRole, QVariant::fromValue(end));
  m_rangeList->addTopLevelItem(item);
}

void CAddrFilterDlg::OnRangeAdd() {
  const std::string startText = TextOf(m_start);
  const std::string endText = TextOf(m_end);
  if (!IsValidField(startText) || !IsValidField(endText)) return;
  std::uint32_t start = HexStringToInt(startText);
  std::uint32_t end = HexStringToInt(endText);
  if (start > end) std::swap(start, end);
  AddRow(start, end);
}

void CAddrFilterDlg::OnRangeDelete() {
  const QList<QTreeWidgetItem*> selected = m_rangeList->selectedItems();
  qDeleteAll(selected);
}

void CAddrFilterDlg::OnDblclkRangeList(QTreeWidgetItem* item) {
  if (item == nullptr) return;
  const std::uint32_t start = RangeValue(item, kStartRole);
  const std::uint32_t end = RangeValue(item, kEndRole);
  delete item;
  WriteSuppressed(m_start, quillet::FormatAddress(start));
  WriteSuppressed(m_end, quillet::FormatAddress(end));
  // The length follows the end, as if the end had been typed. Called directly:
  // an edit that already held this text reports no change.
  OnChangeRangeEnd();
}

void CAddrFilterDlg::accept() {
  std::vector<quillet::FilterRowText> rows;
  rows.reserve(static_cast<std::size_t>(m_rangeList->topLevelItemCount()));
  for (int i = 0; i < m_rangeList->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = m_rangeList->topLevelItem(i);
    rows.push_back(
        {quillet::FormatAddress(RangeValue(item, kStartRole)), quillet::FormatAddress(RangeValue(item, kEndRole))});
  }
  // The caller reloads the filter from the file: closing after a failed write
  // would throw the user's edits away and look like success.
  if (!quillet::WriteAddressFilter(m_settingsPath, rows)) {
    m_prompts.MessageBox(
        this, QString::fromUtf8(text::kFilterSaveErrorPrefix) + QString::fromStdString(m_settingsPath) + '\'',
        QString::fromUtf8(text::kErrorCaption), IUserPrompts::Icon::none);
    return;
  }
  QDialog::accept();
}

}  // namespace quillet
