#pragma once
// The two tabs of a person's record, "Informações Pessoais" and "Informações Residenciais",
// as the patient and the doctor windows show them, every control bound to the window's
// record buffer. The patient's record has profession, insurance and blood type and lists
// of states to choose from; the doctor's has the CRM and states that may be typed.
#include <QTabWidget>

class QGroupBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace norvix {

class TRecordBuffer;

class TFichaCadastro : public QTabWidget {
    Q_OBJECT
public:
    enum class Tipo { Paciente, Medico };
    // The 27 state codes of both state lists, in the order shown.
    static const QStringList kEstados;
    static const QStringList kTiposSanguineos;

    TFichaCadastro(Tipo tipo, TRecordBuffer& buffer, QWidget* parent);

    // The code line: its caption, and whether the code shows.
    void setCodigo(const QString& caption, bool visible);
    QString codigoCaption() const;
    bool codigoVisible() const;
    // The code shown in the code line (the row's CODIGO).
    int codigo() const;

    QLineEdit* edtNome = nullptr;
    QLineEdit* edtRG = nullptr;
    QLineEdit* edtCPF = nullptr;
    QLineEdit* edtDataNascimento = nullptr;

private:
    QLineEdit* edit(QWidget* page, const char* name, const QString& column, int format);
    QComboBox* combo(QWidget* page, const char* name, const QString& column, const QStringList& items,
                     bool editable);
    QGroupBox* choice(QWidget* page, const char* name, const QString& caption, const QStringList& captions,
                         const QStringList& values, const QString& column, const char* const* names);

    TRecordBuffer& buffer_;
    QLabel* lblCodigo_ = nullptr;
    QLabel* dbtCodigo_ = nullptr;
};

}  // namespace norvix
