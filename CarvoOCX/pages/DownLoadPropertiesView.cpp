#include "pages/DownLoadPropertiesView.h"

namespace carvo::pages {

namespace {

template <typename W>
W* place(W* widget, const char* name, QRect geometry) {
    widget->setObjectName(name);
    widget->setGeometry(geometry);
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const char* text, QRect geometry) {
    auto* l = place(new QLabel(QString::fromUtf8(text), parent), name, geometry);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

QCheckBox* checkBox(QWidget* parent, const char* name, const char* text, QRect geometry) {
    return place(new WrappingCheckBox(QString::fromUtf8(text), parent), name, geometry);
}

QComboBox* chunkCombo(QWidget* parent) {
    auto* c = place(new QComboBox(parent), "ChunkCombo", twipsRect(120, 1080, 2655, 315));
    c->setEditable(true);
    // The list offers sizes; the text typed stays a text and never joins the list.
    c->setInsertPolicy(QComboBox::NoInsert);
    c->setEditText(kChunkComboInitialText);
    return c;
}

}  // namespace

DownLoadPropertiesView::DownLoadPropertiesView(std::shared_ptr<DownLoad_Properties> page,
                                               QWidget* parent)
    : QWidget(parent),
      lblUrl(label(this, "lblUrl", "URL do Arquivo:", twipsRect(120, 120, 2775, 255))),
      txtUrl(place(new QLineEdit(this), "txtUrl", twipsRect(120, 360, 5535, 375))),
      lblCHUNK(label(this, "lblCHUNK", "Tamanho do CHUNK:", twipsRect(120, 840, 2775, 255))),
      lblSaveLocation(
          label(this, "lblSaveLocation", "Save Location:", twipsRect(120, 1440, 2775, 255))),
      txtSaveLocation(
          place(new QLineEdit(this), "txtSaveLocation", twipsRect(120, 1680, 5535, 375))),
      ChunkCombo(chunkCombo(this)),
      Label1(label(this, "Label1", "* Nota - O melhor CHUNK para conexões de 56K é 1024.",
                   twipsRect(0, 3000, 4065, 195))),
      Chkpreserve(checkBox(this, "Chkpreserve", "Marque para preservar extensão do arquivo",
                           twipsRect(3120, 1080, 2535, 375))),
      ChkOC(checkBox(this, "ChkOC", "Marque para testar conexão com a Internet antes do download",
                     twipsRect(120, 2160, 2055, 615))),
      ChkPC(checkBox(this, "ChkPC",
                     "Marque para perguntar ao usuário se ele(a) quer substituir arquivos",
                     twipsRect(3120, 2160, 2415, 615))),
      page_(std::move(page)),
      urlField_(txtUrl),
      saveLocationField_(txtSaveLocation),
      chunkField_(ChunkCombo),
      preserveField_(Chkpreserve),
      onlineCheckField_(ChkOC),
      promptField_(ChkPC) {
    setObjectName("DownLoad_Properties");
    setFont(pageFont());
    setFixedSize(px(kPropertiesPageWidth), px(kPropertiesPageHeight));
    // The faces standing in for the original one are wider: the note and the check boxes'
    // captions get a smaller size where their boxes would cut them.
    shrinkToFit(Label1);
    for (QCheckBox* box : {Chkpreserve, ChkOC, ChkPC})
        static_cast<WrappingCheckBox*>(box)->shrinkToFit();

    // Tab order: the labels take no focus, so the editable fields follow one another.
    QWidget::setTabOrder(txtUrl, txtSaveLocation);
    QWidget::setTabOrder(txtSaveLocation, ChunkCombo);
    QWidget::setTabOrder(ChunkCombo, Chkpreserve);
    QWidget::setTabOrder(Chkpreserve, ChkOC);
    QWidget::setTabOrder(ChkOC, ChkPC);

    try {
        page_->activate({urlField_, saveLocationField_, chunkField_, preserveField_,
                         onlineCheckField_, promptField_});
    } catch (...) {
        page_->deactivate();  // the fields go with this half-made window
        throw;
    }
}

DownLoadPropertiesView::~DownLoadPropertiesView() { page_->deactivate(); }

}  // namespace carvo::pages
