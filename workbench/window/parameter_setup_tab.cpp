#include "workbench/window/parameter_setup_tab.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <map>
#include <utility>
#include <variant>

#include "engine/records/para_configure.h"
#include "workbench/engine/korvane_engine.h"
#include "workbench/results/engine_text.h"
#include "workbench/results/guarded_slot.h"

namespace {

using korvane::wb::guarded;
using korvane::wb::engine_text;

using korvane::Para_Field;
using korvane::Para_Group;

const char* const kConfigFile = "config_para.csv";

// The fields with a box, in the order "Apply" converts them and the page fills them; boxes_ is
// indexed alike.
constexpr auto kBoxes = [] {
    std::array<const Para_Field*, korvane::kParaBoxCount> boxes{};
    for (const Para_Field& f : korvane::kParaFields)
        if (f.box.group != Para_Group::none) boxes[f.box.apply] = &f;
    return boxes;
}();

// The same fields in screen order, group by group and row by row.
constexpr auto kScreenOrder = [] {
    auto boxes = kBoxes;
    std::sort(boxes.begin(), boxes.end(), [](const Para_Field* a, const Para_Field* b) {
        return std::pair(a->box.group, a->box.row) < std::pair(b->box.group, b->box.row);
    });
    return boxes;
}();

bool is_real(const Para_Field& f) { return std::holds_alternative<double Para_Configure::*>(f.member); }

// An unsigned field that holds the 32-bit pattern of a negative 16-bit number is shown as that
// number ("End Scan" 4294967295 as -1): the page must accept back what it shows, and "Apply" takes
// whole numbers from -32768 to 32767 only.
template <typename T>
QString number_text(T v) {
    if constexpr (std::is_floating_point_v<T>)
        return QString::number(v, 'g', 15);
    else if constexpr (std::is_same_v<T, std::uint32_t>)
        return v >= 0xFFFF8000u ? QString::number(static_cast<std::int32_t>(v)) : QString::number(v);
    else
        return QString::number(v);
}

QString shown_text(const Para_Field& f, const Para_Configure& p) {
    return std::visit([&p](auto member) { return number_text(p.*member); }, f.member);
}

// A box's text into its field of p: a decimal for a real field, a whole number from -32768 to
// 32767 for an integer one, where an unsigned field keeps the 32-bit pattern of a negative number
// ("-1" in "End Scan" means the last scan). False, p untouched, when the text does not convert.
bool convert_box(const Para_Field& f, const QString& text, Para_Configure& p) {
    // C locale without group separators, so "12,5" is refused rather than read as 125.
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    return std::visit(
        [&](auto member) {
            using T = std::remove_reference_t<decltype(p.*member)>;
            bool ok = false;
            if constexpr (std::is_floating_point_v<T>) {
                const double v = c.toDouble(text, &ok);
                if (!ok || !std::isfinite(v)) return false;
                p.*member = v;
            } else {
                const int v = c.toInt(text, &ok);
                if (!ok || v < std::numeric_limits<qint16>::min() || v > std::numeric_limits<qint16>::max())
                    return false;
                p.*member = static_cast<T>(v);
            }
            return true;
        },
        f.member);
}

QString refusal(const Para_Field& f) {
    QString label = QString::fromLatin1(f.box.label);
    if (label.endsWith(':')) label.chop(1);
    return "The value of \"" + label +
           (is_real(f) ? "\" is not a number!" : "\" is not a whole number from -32768 to 32767!");
}

QRadioButton* add_radio(QButtonGroup* group, int id, const char* text, const char* name, QWidget* parent) {
    auto* b = new QRadioButton(QString::fromLatin1(text), parent);
    b->setObjectName(QString::fromLatin1(name));
    group->addButton(b, id);
    return b;
}

void clear_group(QButtonGroup* group) {
    group->setExclusive(false);
    for (auto* b : group->buttons()) b->setChecked(false);
    group->setExclusive(true);
}

void select_in_group(QButtonGroup* group, int id) {
    if (auto* b = group->button(id)) b->setChecked(true);
}

}  // namespace

ParameterSetupTab::ParameterSetupTab(CKORVANE_Engine* engine, std::function<QString()> configPath,
                                     std::function<QString()> configBoxText, QWidget* parent)
    : QWidget(parent), engine_(engine), configPath_(std::move(configPath)), configBoxText_(std::move(configBoxText)) {
    setObjectName("parameterSetupTab");
    cutoffGroup_ = new QButtonGroup(this);
    dataTypeGroup_ = new QButtonGroup(this);
    polarityGroup_ = new QButtonGroup(this);
    alignGroup_ = new QButtonGroup(this);

    // 1. The five parameter groups with their boxes, then the two mode groups.
    const Parameter_Groups groups = buildParameterGroups();
    QVBoxLayout* modes = buildModeGroups();
    // 2. The groups in two rows with "Apply" below them.
    QVBoxLayout* page = layOutPage(groups, modes);
    // 3. The reminder at the bottom, and each radio group keeping its field.
    buildReminder(page);
    connectRadioFields();

    reminderTimer_ = new QTimer(this);
    reminderTimer_->setInterval(50);
    connect(reminderTimer_, &QTimer::timeout, this, &ParameterSetupTab::reminderTick);
}

ParameterSetupTab::Parameter_Groups ParameterSetupTab::buildParameterGroups() {
    const char* const titles[5] = {"Parameters for Mass Trace Extraction", "Parameters for Peak Detection",
                                   "Parameters for Peak Filtering",
                                   "Parameters for Grouping Annotation and Refinement", "Parameters for Alignment"};
    Parameter_Groups groups{};
    QGridLayout* grids[5];
    for (int g = 0; g < 5; ++g) {
        groups[g] = new QGroupBox(QString::fromLatin1(titles[g]), this);
        grids[g] = new QGridLayout(groups[g]);
    }
    // The alignment radio buttons stand above the alignment boxes, in row 0.
    const int alignment = static_cast<int>(Para_Group::alignment);
    auto* alignRadios = new QHBoxLayout;
    add_radio(alignGroup_, 0, "No Alignment", "noAlignmentRadioButton", groups[alignment]);
    add_radio(alignGroup_, 1, "One Phase Alignment", "onePhaseAlignmentRadioButton", groups[alignment]);
    add_radio(alignGroup_, 2, "Two Phase Alignment", "twoPhaseAlignmentRadioButton", groups[alignment]);
    for (auto* b : alignGroup_->buttons()) alignRadios->addWidget(b);
    grids[alignment]->addLayout(alignRadios, 0, 0, 1, 3);

    for (const Para_Field* f : kScreenOrder) {
        const int g = static_cast<int>(f->box.group);
        QWidget* page = groups[g];
        QWidget* left = boxLabel(f->box.apply, page);
        auto* box = new QLineEdit(page);
        box->setObjectName(QString::fromLatin1(f->box.name));
        boxes_[f->box.apply] = box;
        const int row = f->box.row + (g == alignment ? 1 : 0);
        grids[g]->addWidget(left, row, 0);
        grids[g]->addWidget(box, row, 1);
        if (*f->box.unit) grids[g]->addWidget(new QLabel(QString::fromLatin1(f->box.unit), page), row, 2);
    }
    return groups;
}

QWidget* ParameterSetupTab::boxLabel(int k, QWidget* page) {
    // The three cut-off boxes have their radio button on the left instead of a label.
    const char* const cutoffNames[3] = {"cutoffIntensityRadioButton", "cutoffTopNumberRadioButton",
                                        "cutoffLowPercentRadioButton"};
    if (k < 3) return add_radio(cutoffGroup_, k + 1, kBoxes[k]->box.label, cutoffNames[k], page);
    return new QLabel(QString::fromLatin1(kBoxes[k]->box.label), page);
}

QVBoxLayout* ParameterSetupTab::buildModeGroups() {
    auto* dataType = new QGroupBox("Data Type", this);
    auto* dataTypeLayout = new QVBoxLayout(dataType);
    dataTypeLayout->addWidget(add_radio(dataTypeGroup_, 0, "Profile Data", "profileDataRadioButton", dataType));
    dataTypeLayout->addWidget(add_radio(dataTypeGroup_, 1, "Centroid_Data", "centroidDataRadioButton", dataType));
    auto* polarity = new QGroupBox("LC-MS(+/-)", this);
    auto* polarityLayout = new QVBoxLayout(polarity);
    polarityLayout->addWidget(add_radio(polarityGroup_, 0, "LC-MS(+)", "positiveModeRadioButton", polarity));
    polarityLayout->addWidget(add_radio(polarityGroup_, 1, "LC-MS(-)", "negativeModeRadioButton", polarity));
    auto* modes = new QVBoxLayout;
    modes->addWidget(dataType);
    modes->addWidget(polarity);
    modes->addStretch();
    return modes;
}

QVBoxLayout* ParameterSetupTab::layOutPage(const Parameter_Groups& groups, QVBoxLayout* modes) {
    auto* applyButton = new QPushButton("Apply", this);
    applyButton->setObjectName("applyButton");
    korvane::wb::connect_guarded(
        applyButton, &QPushButton::clicked, this, [this] { apply(); },
        [this](const QString& what) { showMessage(what); });

    auto* grid = new QGridLayout;
    // Mass traces, peak detection and filtering above; grouping, alignment and the modes below.
    for (int g = 0; g < 5; ++g) grid->addWidget(groups[g], g / 3, g % 3);
    grid->addLayout(modes, 1, 2);
    auto* page = new QVBoxLayout(this);
    page->addLayout(grid);
    auto* applyRow = new QHBoxLayout;
    applyRow->addStretch();
    applyRow->addWidget(applyButton);
    applyRow->addStretch();
    page->addLayout(applyRow);
    page->addStretch();
    return page;
}

void ParameterSetupTab::buildReminder(QVBoxLayout* page) {
    // The reminder moves on its own, so it stands outside the layout; the layout leaves room for it.
    remindLabel_ = new QLabel(
        "Gently Reminds:\n(1) Have you specificied the configuration folder in Data Process panel? \n"
        "(2) Have you clicked the 'Apply' button for the newly Parameter Setup? ",
        this);
    remindLabel_->setObjectName("remindLabel");
    remindLabel_->adjustSize();
    page->addSpacing(remindLabel_->height() + 10);
    remindLabel_->move(0, 0);
}

void ParameterSetupTab::connectRadioFields() {
    const struct {
        QButtonGroup* group;
        int* field;
    } fields[] = {{cutoffGroup_, &m_Cutoff_Model},
                  {dataTypeGroup_, &m_LC_MS_Profile_Centroid},
                  {polarityGroup_, &m_LC_MS_Positive_Negative},
                  {alignGroup_, &m_Alignment_Phase_Num}};
    for (const auto& f : fields)
        connect(f.group, &QButtonGroup::idToggled, this, [field = f.field](int id, bool on) {
            if (on) *field = id;
        });
}

ParameterSetupTab::~ParameterSetupTab() = default;

void ParameterSetupTab::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeReminderAtBottom();
}

void ParameterSetupTab::placeReminderAtBottom() {
    remindLabel_->move(remindLabel_->x(), std::max(0, height() - remindLabel_->height() - 5));
}

void ParameterSetupTab::tabSelected(bool selected) {
    if (!selected) {
        reminderTimer_->stop();
        return;
    }
    const QString folder = configBoxText_();
    int loaded = 0;
    // The page is cleared, like for a missing file, but a file that is there and cannot be read
    // must say why, or its values would seem to be gone.
    if (engine_)
        guarded([this](const QString& what) { showMessage("Could not read configure files: " + what); },
                [&] { loaded = engine_->Config_File_Load(engine_text(folder), kConfigFile); });
    if (!folder.isEmpty() && loaded == 1)
        fillFromPara(korvane::read_para_value_texts(engine_text(folder), kConfigFile));
    else
        clearAll();
    reminderTimer_->start();
}

void ParameterSetupTab::fillFromPara(const std::map<std::string, std::string>& file) {
    // The page shows what the file holds: a key without a line leaves its box empty and a value
    // that is no number stands as written, instead of the 0 the lenient reader makes of both,
    // which "Apply" would then write into the file as if it had been chosen.
    const auto text_of = [&file](const char* key) -> const std::string* {
        const auto it = file.find(key);
        return it == file.end() ? nullptr : &it->second;
    };
    const Para_Configure& p = engine_->Para;
    for (std::size_t k = 0; k < kBoxes.size(); ++k) {
        const std::string* text = text_of(kBoxes[k]->key);
        if (!text)
            boxes_[k]->clear();
        else if (korvane::para_value_problem(*kBoxes[k], *text))
            boxes_[k]->setText(QString::fromStdString(*text).trimmed());
        else
            boxes_[k]->setText(shown_text(*kBoxes[k], p));
    }
    const struct {
        const char* key;
        int value;
        int* field;
        QButtonGroup* group;
    } radios[] = {{"Para_Cutoff_Mode", p.Para_Cutoff_Mode, &m_Cutoff_Model, cutoffGroup_},
                  {"Para_Polarity", p.Para_Polarity, &m_LC_MS_Positive_Negative, polarityGroup_},
                  {"Para_Profile_Centroid", p.Para_Profile_Centroid, &m_LC_MS_Profile_Centroid, dataTypeGroup_},
                  {"Para_One_Two_Phase_Align", p.Para_One_Two_Phase_Align, &m_Alignment_Phase_Num, alignGroup_}};
    for (const auto& r : radios) {
        const std::string* text = text_of(r.key);
        if (!text || korvane::para_value_problem(*korvane::para_field(r.key), *text)) {
            clear_group(r.group);
            continue;
        }
        *r.field = r.value;
        select_in_group(r.group, r.value);
    }
}

void ParameterSetupTab::clearAll() {
    for (auto* g : {cutoffGroup_, dataTypeGroup_, polarityGroup_, alignGroup_}) clear_group(g);
    for (auto* b : boxes_) b->clear();
}

void ParameterSetupTab::apply() {
    if (configPath_().isEmpty()) {
        showMessage("Please select configuration folder from \"Data Load\" tab!");
        return;
    }
    if (!engine_) return;
    // Every box and group is checked before anything is stored: a refused one leaves Para and the
    // file as they were instead of half-applied. A group without a selected button (its key had
    // no line in the file) would store a value the page does not show.
    for (QButtonGroup* g : {cutoffGroup_, dataTypeGroup_, polarityGroup_, alignGroup_}) {
        if (g->checkedButton()) continue;
        QStringList names;
        for (const QAbstractButton* b : g->buttons()) names << "\"" + b->text() + "\"";
        showMessage("Please select one of " + names.join(", ") + "!");
        return;
    }
    Para_Configure next = engine_->Para;
    next.Para_Cutoff_Mode = m_Cutoff_Model;
    for (std::size_t k = 0; k < kBoxes.size(); ++k) {
        if (convert_box(*kBoxes[k], boxes_[k]->text().trimmed(), next)) continue;
        showMessage(refusal(*kBoxes[k]));
        return;
    }
    next.Para_Polarity = m_LC_MS_Positive_Negative;
    next.Para_Profile_Centroid = m_LC_MS_Profile_Centroid;
    next.Para_One_Two_Phase_Align = m_Alignment_Phase_Num;
    const std::string folder = engine_text(configPath_());
    const Para_Configure before = std::exchange(engine_->Para, next);
    // Every run reads the file, not Para: values the file did not take are not applied, and the
    // earlier file is still whole.
    const auto not_applied = [this, &before](const QString& what) {
        engine_->Para = before;
        showMessage("Parameter not applied: " + what);
    };
    if (!guarded(not_applied, [&] { engine_->Config_File_Save(folder, kConfigFile); })) return;
    // The reload passes the values through the file's text, so Para holds what a run will read.
    if (!guarded([this](const QString& what) { showMessage("Could not read configure files: " + what); },
                 [&] { engine_->Config_File_Load(folder, kConfigFile); }))
        return;
    showMessage("Parameter applied!");
}

void ParameterSetupTab::reminderTick() {
    const int limit = width() - 10;
    if (remindLabel_->x() + remindLabel_->width() >= limit) Remind_lab_Dir = 0;
    if (remindLabel_->x() <= 0) Remind_lab_Dir = 1;
    remindLabel_->move(remindLabel_->x() + (Remind_lab_Dir == 1 ? 2 : -2), remindLabel_->y());
}
