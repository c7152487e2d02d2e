#pragma once

#include <QDialog>

namespace quorvale {

class UserDialogs;

/// The product's web address and sales address, shown in the about box.
inline constexpr auto kWebAddress = "https://quorvale.example";
inline constexpr auto kSalesAddress = "sales@quorvale.example";

/// frmAbout: the title, the version, the web and sales addresses as links, and a disclaimer.
/// Deletes itself when closed, so the next opening loads afresh.
class AboutDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AboutDialog)

public:
    explicit AboutDialog(UserDialogs &dialogs, QWidget *parent = nullptr);
};

} // namespace quorvale
