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
#include <cmath>
#include <cstdint>
#include <exception>
#include <fstream>
#include <limits>
#include <map>
#include <string_view>

#include "engine/records/text_util.h"
#include "workbench/engine/korvane_engine.h"
#include "workbench/results/engine_text.h"

namespace {

using korvane::wb::current_error_text;
using korvane::wb::engine_text;

enum class Kind { Real, Whole16 };
enum Group { MassTrace, PeakDetection, PeakFiltering, Grouping, Alignment };

// One box: where it stands, what it is called and how it reaches its parameter. Whole boxes take a
// 16-bit signed number; an unsigned field keeps the 32-bit pattern of a negative one, so "-1" in
// "End Scan" means the last scan of the file.
struct Box_Def {
    Group group;
    const char* label;  // for the three cut-off boxes: the text of the radio button beside it
    const char* unit;
    const char* name;
    Kind kind;
    const char* key;                           // its line's key in "config_para.csv"
    bool (*whole)(std::string_view file_text);  // whether the file's text is wholly its field's number
    QString (*show)(const Para_Configure&);
    void (*store)(Para_Configure&, double real, int whole);
};

template <typename T>
bool whole_number_text(std::string_view text) {
    if constexpr (std::is_floating_point_v<T>)
        return korvane::is_whole_double(text);
    else if constexpr (std::is_same_v<T, std::uint32_t>)
        return korvane::is_whole_uint32_auto(text);
    else
        return korvane::is_whole_int32(text);
}

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

#define KORVANE_BOX(group, label, unit, name, kind, field)                                               \
    Box_Def {                                                                                           \
        group, label, unit, name, Kind::kind, #field, &whole_number_text<decltype(Para_Configure::field)>,   \
            [](const Para_Configure& p) { return number_text(p.field); },                               \
            [](Para_Configure& p, double real, int whole) {                                              \
                if constexpr (Kind::kind == Kind::Real)                                                  \
                    p.field = real;                                                                      \
                else                                                                                     \
                    p.field = static_cast<decltype(p.field)>(whole);                                     \
                (void)real;                                                                              \
                (void)whole;                                                                             \
            }                                                                                            \
    }

// In the order "Apply" converts them and the page fills them: the alignment boxes come as
// Window2, Window1, Mass Tol (on screen they stand as Window1, Window2, Mass Tol).
const Box_Def kBoxes[27] = {
    KORVANE_BOX(MassTrace, "Cutoff Intensity", "", "m_Para_Config_Cutoff_Intensity", Real, Para_Cutoff_Intensity),
    KORVANE_BOX(MassTrace, "Cutoff Top Number", "", "m_Para_Config_Cutoff_TopNum", Whole16, Para_Cutoff_TopNumber),
    KORVANE_BOX(MassTrace, "Cutoff Low Percent", "", "m_Para_Config_Cutoff_Low_Percent", Real, Para_Cutoff_LowPercent),
    KORVANE_BOX(MassTrace, "Start Scan", "", "m_Para_Config_StartScan", Whole16, Para_Start_Scan),
    KORVANE_BOX(MassTrace, "End Scan", "", "m_Para_Config_EndScan", Whole16, Para_End_Scan),
    KORVANE_BOX(MassTrace, "Trace PPM", "", "m_Para_Config_TracePPM", Real, Para_PPM),
    KORVANE_BOX(MassTrace, "Min Trace Length", "", "m_Para_Config_Min_TraceLength", Whole16, Para_Min_EIC),
    KORVANE_BOX(MassTrace, "Miss Allow Th", "", "m_Para_Config_MissAllow_Th", Whole16, Para_Misscount_Allow),
    KORVANE_BOX(MassTrace, "Inter Trace Distance Th", "(Da)", "m_Para_Config_InterTrace_Distance_Th", Real,
                Para_InterTrace_Dist_Min),
    KORVANE_BOX(PeakDetection, "Min Peak Width", "", "m_Para_Config_Min_PeakWidth", Whole16, Para_Min_PeakWidth),
    KORVANE_BOX(PeakDetection, "Max Peak Width", "", "m_Para_Config_Max_PeakWidth", Whole16, Para_Max_PeakWidth),
    KORVANE_BOX(PeakDetection, "Branch Gap Allow", "", "m_Para_Config_BranchGap_Allow", Whole16, Para_Branch_Gap_Allow),
    KORVANE_BOX(PeakDetection, "Min Branch Length", "", "m_Para_Config_Min_Branch_Length", Whole16,
                Para_Min_Branch_Length),
    KORVANE_BOX(PeakDetection, "Min Search Span", "", "m_Para_Config_Min_Search_Span", Whole16, Para_Min_Span),
    KORVANE_BOX(PeakDetection, "Marker Branch Dif Th", "", "m_Para_Config_Marker_Branch_Dif_Th", Whole16,
                Para_MarkerBranch_Dif_Th),
    KORVANE_BOX(PeakFiltering, "Peak Intensity Th", "", "m_Para_Config_Peak_Intensity_Th", Real, Para_PeakIntensity_Th),
    KORVANE_BOX(PeakFiltering, "SNR Th", "", "m_Para_Config_SNR_Th", Real, Para_SNR_Th),
    KORVANE_BOX(PeakFiltering, "Peak Significance Th", "", "m_Para_Config_Peak_Significance_Th", Real,
                Para_Peak_Significance_Th),
    KORVANE_BOX(PeakFiltering, "TPASR Th", "", "m_Para_Config_TPASR_Th", Real, Para_TPASR_Th),
    KORVANE_BOX(PeakFiltering, "Zig Zag Index Th", "", "m_Para_Config_Zig_Zag_Index_Th", Real, Para_Zig_Zag_Index_Th),
    KORVANE_BOX(Grouping, "Group Scan Shift Tol", "(Scan)", "m_Para_Config_GroupScan_Shift_Tol", Whole16,
                Para_Group_Scan_Shift_Tol),
    KORVANE_BOX(Grouping, "Group Shape Angle Tol", "(Degree)", "m_Para_Config_GroupShape_Angle_Tol", Real,
                Para_Group_Shape_Angle_Th),
    KORVANE_BOX(Grouping, "Annotate Mass Tol", "(Da)", "m_Para_Config_AnnotateMass_Tol", Real, Para_Annotate_Mass_Tol),
    KORVANE_BOX(Grouping, "Refinement Shape Tol", "(Degree)", "m_Para_Config_Refinement_Shape_Angle_Tol", Real,
                Para_Refinement_Shape_Th),
    KORVANE_BOX(Alignment, "Align Window2:", "(Seconds)", "m_Para_Config_AlignWindwo2", Real, Para_Align_Window2),
    KORVANE_BOX(Alignment, "Align Window1:", "(Seconds)", "m_Para_Config_AlignWindow1", Real, Para_Align_Window1),
    KORVANE_BOX(Alignment, "Align Mass Tol:", "(Da)", "m_Para_Config_AlignMass_Tol", Real, Para_Align_Mass_Tol),
};
#undef KORVANE_BOX

// Screen order of the boxes (indexes into kBoxes): only the alignment group differs.
const int kScreenOrder[27] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13,
                              14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 25, 24, 26};

const char* const kConfigFile = "config_para.csv";

QString label_without_colon(const char* label) {
    QString l = QString::fromLatin1(label);
    if (l.endsWith(':')) l.chop(1);
    return l;
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

// The value text of each key's last line in the parameter file, as the reader takes it.
std::map<std::string, std::string> file_values(const std::string& path) {
    std::map<std::string, std::string> values;
    if (korvane::is_not_regular_file(path)) return values;  // a FIFO would hang the window
    std::ifstream in(path);
    std::string line;
    for (bool first = true; korvane::read_line(in, line); first = false) {
        if (first) korvane::strip_utf8_bom(line);
        const std::vector<std::string> pieces = korvane::split_commas(line);
        if (pieces.size() >= 2) values[pieces[0]] = pieces[1];
    }
    return values;
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
    // The alignment radio buttons stand above the alignment boxes.
    auto* alignRadios = new QHBoxLayout;
    add_radio(alignGroup_, 0, "No Alignment", "noAlignmentRadioButton", groups[Alignment]);
    add_radio(alignGroup_, 1, "One Phase Alignment", "onePhaseAlignmentRadioButton", groups[Alignment]);
    add_radio(alignGroup_, 2, "Two Phase Alignment", "twoPhaseAlignmentRadioButton", groups[Alignment]);
    for (auto* b : alignGroup_->buttons()) alignRadios->addWidget(b);
    grids[Alignment]->addLayout(alignRadios, 0, 0, 1, 3);

    int rows[5] = {0, 0, 0, 0, 1};
    for (int k : kScreenOrder) {
        const Box_Def& def = kBoxes[k];
        QWidget* page = groups[def.group];
        QWidget* left = boxLabel(k, page);
        auto* box = new QLineEdit(page);
        box->setObjectName(QString::fromLatin1(def.name));
        boxes_[k] = box;
        const int row = rows[def.group]++;
        grids[def.group]->addWidget(left, row, 0);
        grids[def.group]->addWidget(box, row, 1);
        if (*def.unit) grids[def.group]->addWidget(new QLabel(QString::fromLatin1(def.unit), page), row, 2);
    }
    return groups;
}

QWidget* ParameterSetupTab::boxLabel(int k, QWidget* page) {
    // The three cut-off boxes have their radio button on the left instead of a label.
    const char* const cutoffNames[3] = {"cutoffIntensityRadioButton", "cutoffTopNumberRadioButton",
                                        "cutoffLowPercentRadioButton"};
    if (k < 3) return add_radio(cutoffGroup_, k + 1, kBoxes[k].label, cutoffNames[k], page);
    return new QLabel(QString::fromLatin1(kBoxes[k].label), page);
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
    connect(applyButton, &QPushButton::clicked, this, &ParameterSetupTab::apply);

    auto* grid = new QGridLayout;
    grid->addWidget(groups[MassTrace], 0, 0);
    grid->addWidget(groups[PeakDetection], 0, 1);
    grid->addWidget(groups[PeakFiltering], 0, 2);
    grid->addWidget(groups[Grouping], 1, 0);
    grid->addWidget(groups[Alignment], 1, 1);
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
    if (engine_) {
        try {
            loaded = engine_->Config_File_Load(engine_text(folder), kConfigFile);
        } catch (...) {
            // The page is cleared, like for a missing file, but a file that is there and cannot
            // be read must say why, or its values would seem to be gone.
            showMessage("Could not read configure files: " + current_error_text());
        }
    }
    if (!folder.isEmpty() && loaded == 1)
        fillFromPara(file_values(korvane::path_join(engine_text(folder), kConfigFile)));
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
    for (int k = 0; k < 27; ++k) {
        const std::string* text = text_of(kBoxes[k].key);
        if (!text)
            boxes_[k]->clear();
        else if (!kBoxes[k].whole(*text))
            boxes_[k]->setText(QString::fromStdString(*text).trimmed());
        else
            boxes_[k]->setText(kBoxes[k].show(p));
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
        if (!text || !korvane::is_whole_int32(*text)) {
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
    double reals[27] = {};
    int wholes[27] = {};
    // C locale without group separators, so "12,5" is refused rather than read as 125.
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    for (int k = 0; k < 27; ++k) {
        const QString text = boxes_[k]->text().trimmed();
        bool ok = false;
        if (kBoxes[k].kind == Kind::Real) {
            reals[k] = c.toDouble(text, &ok);
            if (!ok || !std::isfinite(reals[k])) {
                showMessage("The value of \"" + label_without_colon(kBoxes[k].label) + "\" is not a number!");
                return;
            }
        } else {
            const int v = c.toInt(text, &ok);
            if (!ok || v < std::numeric_limits<qint16>::min() || v > std::numeric_limits<qint16>::max()) {
                showMessage("The value of \"" + label_without_colon(kBoxes[k].label) +
                            "\" is not a whole number from -32768 to 32767!");
                return;
            }
            wholes[k] = v;
        }
    }
    const std::string folder = engine_text(configPath_());
    Para_Configure& p = engine_->Para;
    const Para_Configure before = p;
    p.Para_Cutoff_Mode = m_Cutoff_Model;
    for (int k = 0; k < 27; ++k) kBoxes[k].store(p, reals[k], wholes[k]);
    p.Para_Polarity = m_LC_MS_Positive_Negative;
    p.Para_Profile_Centroid = m_LC_MS_Profile_Centroid;
    p.Para_One_Two_Phase_Align = m_Alignment_Phase_Num;
    try {
        engine_->Config_File_Save(folder, kConfigFile);
    } catch (...) {
        // Every run reads the file, not Para: values the file did not take are not applied, and
        // the earlier file is still whole.
        p = before;
        showMessage("Parameter not applied: " + current_error_text());
        return;
    }
    try {
        // The reload passes the values through the file's text, so Para holds what a run will read.
        engine_->Config_File_Load(folder, kConfigFile);
    } catch (...) {
        showMessage("Could not read configure files: " + current_error_text());
        return;
    }
    showMessage("Parameter applied!");
}

void ParameterSetupTab::reminderTick() {
    const int limit = width() - 10;
    if (remindLabel_->x() + remindLabel_->width() >= limit) Remind_lab_Dir = 0;
    if (remindLabel_->x() <= 0) Remind_lab_Dir = 1;
    remindLabel_->move(remindLabel_->x() + (Remind_lab_Dir == 1 ? 2 : -2), remindLabel_->y());
}
