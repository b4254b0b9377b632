#pragma once
// The workstation's home screen: background, banner and seven picture buttons dressed for the
// instrument model (ApplySkin). Its first activation runs the start-up; closing it puts the
// user's regional values back and ends the program.
#include <QPointer>
#include <QWidget>
#include <array>
#include <memory>

class QLabel;

namespace norvix {

class TPictureButton;
class TBIniSettings;
class TBRegConfig;
class TBVersionInfo;
class TStartUp;
class TMapCatalogue;
class TfrmExames;
class TBMapOperation;

class TfrmPrincipal : public QWidget {
    Q_OBJECT
public:
    explicit TfrmPrincipal(QWidget* parent = nullptr);
    ~TfrmPrincipal() override;

    static TfrmPrincipal* instance();

    // Loads the pictures of the family of model for the ring count. On any failure shows
    // "Não foi possivel inicializar o sistema - Erro IMG001" and returns false (the caller
    // then closes the window).
    bool ApplySkin(uint8_t model, uint8_t rings);

    // Runs the start-up while it has not completed; ignored while a run is under way.
    void ApplicationEvents1Activate();
    // Queues one start-up run for an activation; requests made before it runs share it.
    void requestStartUp();
    // The program entry's request right after showing the window: it stands for the first
    // activation (a desktop without a window manager reports none), so the application's own
    // first activation, whenever it comes, does not run the start-up a second time.
    void requestFirstStartUp();

    // The window's state shared with the start-up run.
    bool started() const { return started_; }
    bool databaseReady() const { return databaseReady_; }
    bool startUpRunning() const { return startUpRunning_; }
    TBIniSettings* settings() const { return settings_.get(); }
    TBVersionInfo* versionInfo() const { return versionInfo_.get(); }
    TBRegConfig* regConfig() const { return regConfig_.get(); }
    TMapCatalogue* catalogue() const { return catalogue_.get(); }

    // The pictures shown (tests and the skin rules).
    QString backgroundFile() const { return backgroundFile_; }
    QString bannerFile() const { return bannerFile_; }
    TPictureButton* button(int i) const { return buttons_[i]; }

    // The buttons' handlers under their established names, each forwarding to its intent.
    void BtnImage0Click() { openBrowser(); }
    void BtnImage1Click() { openDoctors(); }
    void BtnImage2Click() { openCalibration(); }
    void BtnImage3Click() { openTools(); }
    void BtnImage4Click() { openBackup(); }
    void BtnImage5Click() { openHelp(); }
    void BtnImage6Click() { close(); }
    void openBrowser();
    void openDoctors();
    void openCalibration();
    void openTools();
    void openBackup();
    void openHelp();
    void Image2Click();
    void Image3Click();

    static const char* kMakerWebPage;

signals:
    // After each queued run, whether it completed, stopped or raised.
    void startUpFinished();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TStartUp;
    void FormClose();
    // Builds the map-module catalogue; with progress, the start-up bar advances. The buttons
    // go onto the exam browser's map tool bar when the browser exists.
    void buildCatalogue(bool withProgress);
    // The exam browser, created when it does not exist.
    TfrmExames* createExamBrowser();

    bool started_ = false;
    bool databaseReady_ = true;
    bool startUpRunning_ = false;
    bool startUpQueued_ = false;
    bool firstActivationTaken_ = false;
    bool closed_ = false;
    std::unique_ptr<TBIniSettings> settings_;
    std::unique_ptr<TBVersionInfo> versionInfo_;
    std::unique_ptr<TBRegConfig> regConfig_;
    std::unique_ptr<TMapCatalogue> catalogue_;
    std::unique_ptr<norvix::TBMapOperation> mapOperation_;

    QLabel* Image1;
    QLabel* Image2;
    QLabel* Image3;
    std::array<TPictureButton*, 7> buttons_{};
    QString backgroundFile_, bannerFile_;
    static QPointer<TfrmPrincipal> instance_;
};

}  // namespace norvix
