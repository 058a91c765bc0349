// The templates page: the slot selector, the shown slot's fields and their context menu.
#include "editor/TemplatesPage.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>

#include "editor/PageParts.h"
#include "store/DefaultList.h"
#include "store/IniFile.h"
#include "store/NoticeTexts.h"

namespace orvex {

TemplatesPage::TemplatesPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TemplatesPage"));
  auto* layout = new QGridLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Template"), this), 0, 0);
  ComboBox1 = new QComboBox(this);
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  ComboBox1->setEditable(false);
  for (const auto& slot : kNoticeSlots) ComboBox1->addItem(QString::fromLatin1(slot.entry));
  ComboBox1->setCurrentIndex(-1);
  layout->addWidget(ComboBox1, 0, 1);
  subjectLabel_ = new QLabel(QStringLiteral("Subject "), this);
  subjectLabel_->setObjectName(QStringLiteral("SubjectLabel"));
  Subject = NamedEdit("Subject", this);
  layout->addWidget(subjectLabel_, 1, 0);
  layout->addWidget(Subject, 1, 1);
  Template = new QPlainTextEdit(this);
  Template->setObjectName(QStringLiteral("Template"));
  Template->setLineWrapMode(QPlainTextEdit::NoWrap);
  Template->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Template->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont fixed(QStringLiteral("Courier New"), 8);
  fixed.setStyleHint(QFont::TypeWriter);
  Template->setFont(fixed);
  layout->addWidget(Template, 2, 0, 1, 2);
  layout->setRowStretch(2, 1);
  layout->setColumnStretch(1, 1);

  for (QWidget* field : {static_cast<QWidget*>(Subject), static_cast<QWidget*>(Template)}) {
    field->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(field, &QWidget::customContextMenuRequested, this, [field](const QPoint& at) {
      field->setFocus(Qt::MouseFocusReason);
      auto menu = CreateEditMenu(field);
      menu->exec(field->mapToGlobal(at));
    });
  }
  connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TemplatesPage::ShowChosenSlot);
  connect(Subject, &QLineEdit::textChanged, this, &TemplatesPage::FieldChanged);
  connect(Template, &QPlainTextEdit::textChanged, this, &TemplatesPage::FieldChanged);
  ShowChosenSlot();
}

void TemplatesPage::Load(const IniFile& source) {
  for (int i = 0; i < kNoticeSlotCount; ++i) {
    const NoticeSlotInfo& info = kNoticeSlots[static_cast<std::size_t>(i)];
    NoticeSlot& slot = slots_[static_cast<std::size_t>(i)];
    // A section the file lacks shows (and is saved with) the text the service sends in its place:
    // saving an empty one would switch that notice off.
    const IniFile& from = NoticeSource(source, info.readSection);
    const auto cut = [&](const char* key) {
      return from.ReadString(info.readSection, key, "").size() >= IniFile::kMaximumValueLength;
    };
    slot.text = NoticeValue(ReadNoticeTextForEditor(from, info.readSection), cut("Text"));
    slot.subject = info.hasSubject ? NoticeValue(from.ReadString(info.readSection, "Subject", ""),
                                                 cut("Subject"))
                                   : NoticeValue();
  }
}

void TemplatesPage::Save(IniFile& ini) const {
  for (int index : kNoticeWriteOrder) {
    const NoticeSlotInfo& info = kNoticeSlots[static_cast<std::size_t>(index)];
    const NoticeSlot& slot = slots_[static_cast<std::size_t>(index)];
    if (!slot.subject.KeepStored())
      ini.WriteString(info.writeSection, "Subject",
                      info.hasSubject ? slot.subject.Bytes() : std::string());
    if (!slot.text.KeepStored())
      WriteNoticeTextForEditor(ini, info.writeSection, slot.text.Bytes());
  }
}

void TemplatesPage::ChooseNoSlot() {
  ComboBox1->setCurrentIndex(-1);
  ShowChosenSlot();
}

void TemplatesPage::ShowChosenSlot() {
  filling_ = true;
  const int index = ComboBox1->currentIndex();
  if (index < 0 || index >= kNoticeSlotCount) {
    subjectLabel_->hide();
    Subject->hide();
    Template->hide();
    Template->clear();
    filling_ = false;
    return;
  }
  NoticeSlot& slot = slots_[static_cast<std::size_t>(index)];
  const bool hasSubject = kNoticeSlots[static_cast<std::size_t>(index)].hasSubject;
  subjectLabel_->setVisible(hasSubject);
  Subject->setVisible(hasSubject);
  Template->show();
  Template->setPlainText(slot.text.Current());
  slot.text.SetBaseline(Template->toPlainText());
  if (hasSubject) {
    Subject->setText(slot.subject.Current());
    slot.subject.SetBaseline(Subject->text());
  }
  filling_ = false;
}

void TemplatesPage::FieldChanged() {
  if (filling_) return;
  const int index = ComboBox1->currentIndex();
  if (index < 0 || index >= kNoticeSlotCount) return;
  NoticeSlot& slot = slots_[static_cast<std::size_t>(index)];
  slot.text.SetEdited(Template->toPlainText());
  if (kNoticeSlots[static_cast<std::size_t>(index)].hasSubject)
    slot.subject.SetEdited(Subject->text());
  emit Changed();
}

std::unique_ptr<QMenu> CreateEditMenu(QWidget* field) {
  auto menu = std::make_unique<QMenu>();
  auto* line = qobject_cast<QLineEdit*>(field);
  auto* text = qobject_cast<QPlainTextEdit*>(field);
  if (line == nullptr && text == nullptr) return menu;
  auto add = [&](const QString& caption, const char* name, auto&& action) {
    QAction* item = menu->addAction(caption);
    item->setObjectName(QLatin1String(name));
    QObject::connect(item, &QAction::triggered, field, action);
  };
  add(QStringLiteral("&Undo"), "Undo", [line, text] { line ? line->undo() : text->undo(); });
  menu->addSeparator();
  add(QStringLiteral("Cu&t"), "Cut", [line, text] { line ? line->cut() : text->cut(); });
  add(QStringLiteral("&Copy"), "Copy", [line, text] { line ? line->copy() : text->copy(); });
  add(QStringLiteral("&Paste"), "Paste", [line, text] { line ? line->paste() : text->paste(); });
  menu->addSeparator();
  static const char* const kPlaceholders[] = {"{LISTNAME}",  "{LISTADDRESS}", "{CONTROLADDRESS}",
                                              "{MODERATOR}", "{CONFIRMCODE}", "{PASSWORD}",
                                              "{ADDRESS}",   "{APPROVELINK}", "{REJECTLINK}",
                                              "{TOKEN}",     "{REASON}"};
  for (const char* placeholder : kPlaceholders) {
    const QString value = QLatin1String(placeholder);
    // Inserting replaces the selection, like typing, and goes through the field's own change.
    add(QStringLiteral("Insert ") + value, placeholder,
        [line, text, value] { line ? line->insert(value) : text->insertPlainText(value); });
  }
  return menu;
}

}  // namespace orvex
