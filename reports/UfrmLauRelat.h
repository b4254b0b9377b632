#pragma once
// The printed report: one A4 page (and, when needed, continuation pages and the page of maps)
// described once and drawn by the same code for the printer, the preview and PDF. Positions
// and sizes are layout pixels at 96 per inch inside the 10 mm margins.
#include <QImage>
#include <QList>
#include <QString>
#include <array>

class QPainter;
class QPrinter;
class QWidget;

namespace norvix {

class TfrmLaudo;

// What one printed report shows.
struct TDadosRelat {
    QImage logo;  // null: the logo area stays blank
    QString nomeCli, enderecoCli, cidadeEst, fone;
    QString nomePac, nomeMed, dataEmissao, exames, tipoMapa;
    // Resolved texts: conditions, right eye, left eye, conclusion, comments (empty: no
    // "Comentários" heading).
    std::array<QString, 5> secoes;
    // The page of maps ("Incluir mapas"); empty: no such page.
    struct Mapa {
        QString titulo;    // "OD - 14/03/2025 09:00:00"
        QImage imagem;     // the small axial map with its scale; null when none came
        QString valores;   // the simulated keratometry
    };
    QList<Mapa> mapas;
};

class TfrmLauRelat {
public:
    // The band of the page, and the smallest type a section is set in before it continues on
    // a further page.
    static constexpr int kLargura = 718;
    static constexpr int kAltura = 1034;
    static constexpr int kMenorFonte = 10;

    TfrmLauRelat() = default;
    explicit TfrmLauRelat(TDadosRelat dados) : dados_(std::move(dados)) {}

    // Fills the page from the editor: clinic from the settings, logo, patient, doctor, date,
    // exams, map type, the resolved boxes and, when its "Incluir mapas" is ticked, the maps.
    void PreparaRelat(const TfrmLaudo& editor);
    const TDadosRelat& dados() const { return dados_; }
    TDadosRelat& dados() { return dados_; }

    // The pages as laid out for this content (1 when everything fits the first page).
    int Paginas() const;
    // Draws every page on a printer (a real one or a PDF file); false when the printer
    // cannot be started (nothing was printed).
    bool Desenha(QPrinter& printer) const;
    // Writes the pages as a PDF file, atomically. Raises norvix::Error with a Portuguese text.
    void GravaPdf(const QString& caminho) const;
    // A4, 10 mm margins, the report's title.
    static void ConfiguraImpressora(QPrinter& printer);

    // The clinic logo: "LogoClinica.bmp" of the installation folder, when it is a bitmap of
    // sensible size; *problema receives why a file that exists was not used.
    static QImage CarregaLogo(const QString& caminho, QString* problema = nullptr);

private:
    struct Layout;
    Layout monta() const;
    void desenhaPagina(QPainter& p, const Layout& l, int pagina) const;
    TDadosRelat dados_;
};

}  // namespace norvix
