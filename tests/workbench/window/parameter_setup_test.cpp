// The Parameter Setup page: filling from "config_para.csv", "Apply" and the moving reminder.
#include "workbench/window/parameter_setup_tab.h"

#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "engine/records/para_configure.h"
#include "tests/support/temp_dir.h"
#include "workbench/engine/korvane_engine.h"
#include "workbench/window/main_form.h"

namespace {

namespace fs = std::filesystem;
using korvane::test::read_file;
using korvane::test::TempDir;

// The value of one key in a parameter file's text ("" when absent).
std::string file_value(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + ",", 0) == 0) return line.substr(key.size() + 1);
    return "";
}

class ParameterSetupTest : public testing::Test {
protected:
    void SetUp() override {
        configDir = dir.path() / "config";
        fs::create_directories(configDir);
        fs::copy_file(fs::path(KORVANE_SOURCE_DIR) / "examples" / "config" / "config_para.csv",
                      configDir / "config_para.csv");
        tab = std::make_unique<ParameterSetupTab>(
            &engine, [this] { return configPath; }, [this] { return configBox; });
        tab->showMessage = [this](const QString& text) { messages.push_back(text); };
        tab->resize(1000, 700);
        tab->show();
    }
    // Opens the page with the example configuration chosen on the Data Process page.
    void openWithConfig() {
        configPath = configBox = QString::fromStdString(configDir.string());
        tab->tabSelected(true);
    }
    QLineEdit* box(const char* name) {
        auto* b = tab->findChild<QLineEdit*>(name);
        EXPECT_NE(b, nullptr) << name;
        return b;
    }
    QRadioButton* radio(const char* text) {
        for (auto* b : tab->findChildren<QRadioButton*>())
            if (b->text() == text) return b;
        ADD_FAILURE() << "no radio button " << text;
        return nullptr;
    }
    std::string savedValue(const std::string& key) {
        return file_value(read_file((configDir / "config_para.csv").string()), key);
    }

    TempDir dir;
    fs::path configDir;
    CKORVANE_Engine engine;
    QString configPath, configBox;
    std::vector<QString> messages;
    std::unique_ptr<ParameterSetupTab> tab;
};

TEST_F(ParameterSetupTest, OpeningWithoutAFolderClearsEverythingAndStartsTheReminder) {
    openWithConfig();
    ASSERT_FALSE(box("m_Para_Config_TracePPM")->text().isEmpty());
    tab->tabSelected(false);
    EXPECT_FALSE(tab->reminderTimer()->isActive());

    configBox.clear();
    tab->tabSelected(true);
    const auto boxes = tab->findChildren<QLineEdit*>();
    EXPECT_EQ(boxes.size(), 27);
    for (auto* b : boxes) EXPECT_TRUE(b->text().isEmpty()) << b->objectName().toStdString();
    const auto radios = tab->findChildren<QRadioButton*>();
    EXPECT_EQ(radios.size(), 10);
    for (auto* r : radios) EXPECT_FALSE(r->isChecked()) << r->text().toStdString();
    EXPECT_TRUE(tab->reminderTimer()->isActive());
    EXPECT_EQ(tab->reminderTimer()->interval(), 50);
    // The radio fields keep their last values.
    EXPECT_EQ(tab->m_Alignment_Phase_Num, 2);
    EXPECT_EQ(tab->m_Cutoff_Model, 1);
}

TEST_F(ParameterSetupTest, FileValuesSelectTheirButtonsAndFillTheBoxes) {
    struct Row {
        const char* name;
        int polarity, phase, cutoff, centroid;
        std::vector<const char*> selected;
    };
    const Row rows[] = {
        {"negative, two phases", 1, 2, 1, 1, {"LC-MS(-)", "Two Phase Alignment", "Cutoff Intensity", "Centroid_Data"}},
        {"positive, one phase", 0, 1, 2, 0, {"LC-MS(+)", "One Phase Alignment", "Cutoff Top Number", "Profile Data"}},
        {"no alignment, low percent", 0, 0, 3, 0, {"No Alignment", "Cutoff Low Percent"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Para_Configure p;
        ASSERT_EQ(Read_Configured_ParafromCSVFile(configDir.string(), "config_para.csv", p), 1);
        p.Para_Polarity = row.polarity;
        p.Para_One_Two_Phase_Align = row.phase;
        p.Para_Cutoff_Mode = row.cutoff;
        p.Para_Profile_Centroid = row.centroid;
        OutputConfiguredPara2CSVFile(p, configDir.string(), "config_para.csv");
        openWithConfig();
        for (const char* text : row.selected) EXPECT_TRUE(radio(text)->isChecked()) << text;
        EXPECT_EQ(tab->m_LC_MS_Positive_Negative, row.polarity);
        EXPECT_EQ(tab->m_Alignment_Phase_Num, row.phase);
        EXPECT_EQ(tab->m_Cutoff_Model, row.cutoff);
        EXPECT_EQ(tab->m_LC_MS_Profile_Centroid, row.centroid);
    }
    EXPECT_EQ(box("m_Para_Config_TracePPM")->text(), "10");
    // The file's 4294967295 is the pattern of -1; shown so, it passes "Apply" unchanged.
    EXPECT_EQ(box("m_Para_Config_EndScan")->text(), "-1");
    EXPECT_EQ(box("m_Para_Config_Cutoff_Low_Percent")->text(), "0.05");
    EXPECT_EQ(box("m_Para_Config_AlignWindow1")->text(), "30");
    EXPECT_EQ(box("m_Para_Config_AlignWindwo2")->text(), "15");
    EXPECT_EQ(box("m_Para_Config_AlignMass_Tol")->text(), "0.01");

    // A cut-off mode that names no button leaves the buttons as they were.
    Para_Configure p;
    Read_Configured_ParafromCSVFile(configDir.string(), "config_para.csv", p);
    p.Para_Cutoff_Mode = 0;
    OutputConfiguredPara2CSVFile(p, configDir.string(), "config_para.csv");
    openWithConfig();
    EXPECT_TRUE(radio("Cutoff Low Percent")->isChecked());
    EXPECT_EQ(tab->m_Cutoff_Model, 0);
}

TEST_F(ParameterSetupTest, ApplyWritesTheBoxesThroughTheFileAndReloadsThem) {
    openWithConfig();
    box("m_Para_Config_TracePPM")->setText("12.5");
    box("m_Para_Config_EndScan")->setText("-1");  // the 32-bit pattern of -1: the last scan
    box("m_Para_Config_Min_TraceLength")->setText("32767");
    box("m_Para_Config_AlignWindwo2")->setText("1234567");
    radio("Cutoff Top Number")->setChecked(true);
    radio("LC-MS(-)")->setChecked(true);
    radio("One Phase Alignment")->setChecked(true);
    tab->apply();
    EXPECT_EQ(messages, std::vector<QString>{"Parameter applied!"});
    EXPECT_EQ(savedValue("Para_PPM"), "12.5");
    EXPECT_EQ(savedValue("Para_End_Scan"), "4294967295");
    EXPECT_EQ(savedValue("Para_Min_EIC"), "32767");
    EXPECT_EQ(savedValue("Para_Cutoff_Mode"), "2");
    EXPECT_EQ(savedValue("Para_Polarity"), "1");
    EXPECT_EQ(savedValue("Para_One_Two_Phase_Align"), "1");
    EXPECT_EQ(engine.Para.Para_PPM, 12.5);
    EXPECT_EQ(engine.Para.Para_Min_EIC, 32767u);
    // The reload gives Para what the file holds: six significant digits.
    EXPECT_EQ(engine.Para.Para_Align_Window2, 1234570.0);
    EXPECT_EQ(engine.Para.Para_Align_Window1, 30.0);
}

TEST_F(ParameterSetupTest, TheExampleFileAppliesAsItIsShown) {
    openWithConfig();
    const std::string before = read_file((configDir / "config_para.csv").string());
    tab->apply();
    EXPECT_EQ(messages, std::vector<QString>{"Parameter applied!"});
    EXPECT_EQ(savedValue("Para_End_Scan"), "4294967295");
    EXPECT_EQ(read_file((configDir / "config_para.csv").string()), before);
}

TEST_F(ParameterSetupTest, ABoxThatDoesNotConvertIsNamedAndNothingIsStored) {
    openWithConfig();
    const std::string before = read_file((configDir / "config_para.csv").string());
    const Para_Configure para = engine.Para;
    struct Row {
        const char* name;
        const char* box;
        const char* text;
        const char* message;
    };
    const Row rows[] = {
        {"16-bit overflow", "m_Para_Config_Min_TraceLength", "32768",
         "The value of \"Min Trace Length\" is not a whole number from -32768 to 32767!"},
        {"16-bit underflow", "m_Para_Config_StartScan", "-32769",
         "The value of \"Start Scan\" is not a whole number from -32768 to 32767!"},
        {"a decimal in a whole box", "m_Para_Config_Cutoff_TopNum", "2.5",
         "The value of \"Cutoff Top Number\" is not a whole number from -32768 to 32767!"},
        {"the file's own End Scan", "m_Para_Config_EndScan", "4294967295",
         "The value of \"End Scan\" is not a whole number from -32768 to 32767!"},
        {"not a number", "m_Para_Config_SNR_Th", "three", "The value of \"SNR Th\" is not a number!"},
        {"a decimal comma", "m_Para_Config_TracePPM", "12,5", "The value of \"Trace PPM\" is not a number!"},
        {"a group separator", "m_Para_Config_Max_PeakWidth", "1,000",
         "The value of \"Max Peak Width\" is not a whole number from -32768 to 32767!"},
        {"empty", "m_Para_Config_AlignWindow1", "", "The value of \"Align Window1\" is not a number!"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        openWithConfig();
        box("m_Para_Config_EndScan")->setText("-1");
        box("m_Para_Config_TracePPM")->setText("99");  // valid, and before most failing boxes
        box(row.box)->setText(row.text);
        messages.clear();
        tab->apply();
        EXPECT_EQ(messages, std::vector<QString>{row.message});
        EXPECT_EQ(read_file((configDir / "config_para.csv").string()), before);
        EXPECT_EQ(engine.Para.Para_PPM, para.Para_PPM);
    }
}

// What the file lacks or holds as no number is shown as such, not as the 0 the reader makes of it,
// and "Apply" refuses it instead of writing that 0 into the file.
TEST_F(ParameterSetupTest, AMissingKeyOrAValueThatIsNoNumberIsShownAsTheFileHasIt) {
    const fs::path file = configDir / "config_para.csv";
    const std::string example = read_file(file.string());
    const auto without = [&example](const std::string& key) {
        const std::size_t at = example.find(key + ",");
        return example.substr(0, at) + example.substr(example.find('\n', at) + 1);
    };
    const auto replaced = [&example](const std::string& key, const std::string& value) {
        const std::size_t at = example.find(key + ",") + key.size() + 1;
        return example.substr(0, at) + value + example.substr(example.find('\n', at));
    };
    struct Row {
        const char* name;
        std::string file;
        const char* box;  // nullptr: the row is about a radio group
        const char* shown;
        const char* message;
    };
    const Row rows[] = {
        {"missing whole key", without("Para_Min_EIC"), "m_Para_Config_Min_TraceLength", "",
         "The value of \"Min Trace Length\" is not a whole number from -32768 to 32767!"},
        {"real that is no number", replaced("Para_PPM", "12x"), "m_Para_Config_TracePPM", "12x",
         "The value of \"Trace PPM\" is not a number!"},
        // Read as 4294967295, it would show as -1 and go back into the file as that.
        {"unsigned past 32 bits", replaced("Para_Min_EIC", "99999999999"), "m_Para_Config_Min_TraceLength",
         "99999999999", "The value of \"Min Trace Length\" is not a whole number from -32768 to 32767!"},
        {"missing radio key", without("Para_Polarity"), nullptr, "",
         "Please select one of \"LC-MS(+)\", \"LC-MS(-)\"!"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << row.file;
        tab->tabSelected(false);
        openWithConfig();
        if (row.box) {
            EXPECT_EQ(box(row.box)->text(), row.shown);
        } else {
            EXPECT_FALSE(radio("LC-MS(+)")->isChecked());
            EXPECT_FALSE(radio("LC-MS(-)")->isChecked());
        }
        EXPECT_EQ(box("m_Para_Config_SNR_Th")->text(), "3");  // the other lines as they are
        messages.clear();
        tab->apply();
        EXPECT_EQ(messages, std::vector<QString>{row.message});
        EXPECT_EQ(read_file(file.string()), row.file);
    }
}

// Every run reads the file: values it did not take are not applied, and the earlier file stays.
TEST_F(ParameterSetupTest, AParameterFileThatCannotBeWrittenIsNotReportedAsApplied) {
    const struct {
        const char* name;
        bool name_taken_by_folder;  // no one can write it, not even root
        rlim_t size_limit;          // 0: none
    } rows[] = {{"name taken by a folder", true, 0}, {"disk full", false, 64}};
    openWithConfig();
    const Para_Configure para = engine.Para;
    const std::string example = read_file((configDir / "config_para.csv").string());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path folder = row.name_taken_by_folder ? dir.path() / "blocked" : configDir;
        if (row.name_taken_by_folder) fs::create_directories(folder / "config_para.csv");
        configPath = QString::fromStdString(folder.string());
        box("m_Para_Config_TracePPM")->setText("12.5");
        messages.clear();
        {
            std::optional<korvane::test::FileSizeLimit> limit;
            if (row.size_limit) limit.emplace(row.size_limit);
            tab->apply();
        }
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(messages[0].startsWith("Parameter not applied: could not write " +
                                           QString::fromStdString((folder / "config_para.csv").string())))
            << messages[0].toStdString();
        EXPECT_EQ(engine.Para.Para_PPM, para.Para_PPM);
        EXPECT_EQ(engine.Para.Para_Cutoff_Mode, para.Para_Cutoff_Mode);
    }
    EXPECT_EQ(read_file((configDir / "config_para.csv").string()), example);
}

// A file that is there but cannot be read clears the page, like a missing one, and says why.
TEST_F(ParameterSetupTest, AFileThatCannotBeReadClearsThePageAndSaysWhy) {
    openWithConfig();
    std::ofstream(configDir / "config_para.csv", std::ios::binary | std::ios::trunc) << "Para_PPM\n";
    tab->tabSelected(true);
    EXPECT_TRUE(box("m_Para_Config_TracePPM")->text().isEmpty());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith("Could not read configure files: ")) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains("config_para.csv")) << messages[0].toStdString();
}

TEST_F(ParameterSetupTest, ApplyWithoutAConfigurationFolderSaysWhereToChooseIt) {
    tab->apply();
    EXPECT_EQ(messages, std::vector<QString>{"Please select configuration folder from \"Data Load\" tab!"});
}

TEST_F(ParameterSetupTest, ReminderTurnsTenPixelsBeforeTheRightEdgeAndAtTheLeftEdge) {
    QLabel* label = tab->reminderLabel();
    EXPECT_EQ(label->text(),
              "Gently Reminds:\n(1) Have you specificied the configuration folder in Data Process panel? \n"
              "(2) Have you clicked the 'Apply' button for the newly Parameter Setup? ");
    const int limit = tab->width() - 10;
    // Two ticks short of the limit it still moves right, 2 px a tick.
    label->move(limit - label->width() - 4, label->y());
    tab->reminderTick();
    EXPECT_EQ(label->x() + label->width(), limit - 2);
    EXPECT_EQ(tab->Remind_lab_Dir, 1);
    tab->reminderTick();
    EXPECT_EQ(label->x() + label->width(), limit);
    // At the limit it turns.
    tab->reminderTick();
    EXPECT_EQ(tab->Remind_lab_Dir, 0);
    EXPECT_EQ(label->x() + label->width(), limit - 2);
    // Near the left edge it goes on left until its left edge is at or past the page's, then turns.
    label->move(3, label->y());
    tab->reminderTick();
    EXPECT_EQ(label->x(), 1);
    tab->reminderTick();
    EXPECT_EQ(label->x(), -1);
    tab->reminderTick();
    EXPECT_EQ(tab->Remind_lab_Dir, 1);
    EXPECT_EQ(label->x(), 1);
}

// In the window: the page's timer runs only while the page is the selected tab.
TEST(ParameterSetupInWindow, TheReminderRunsOnlyWhileThePageIsSelected) {
    MainForm form;
    form.showMessage = [](const QString&) {};
    form.show();
    auto* tabs = form.findChild<QTabWidget*>("tabControl1");
    ASSERT_NE(tabs, nullptr);
    tabs->setCurrentIndex(1);
    EXPECT_TRUE(form.parameterTab()->reminderTimer()->isActive());
    const int x0 = form.parameterTab()->reminderLabel()->x();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_GT(form.parameterTab()->reminderLabel()->x(), x0);
    tabs->setCurrentIndex(0);
    EXPECT_FALSE(form.parameterTab()->reminderTimer()->isActive());
}

}  // namespace
