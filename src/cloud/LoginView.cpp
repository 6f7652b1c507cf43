#include "cloud/LoginView.h"

#include "app/Localization.h"
#include "cloud/AuthErrorBox.h"
#include "cloud/AuthFormParts.h"
#include "cloud/AuthPrimaryButton.h"
#include "cloud/LoginViewModel.h"
#include "cloud/RegisterView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

LoginView::LoginView(std::function<void()> onSuccess, std::function<void()> onClose, AuthManager* authManager,
                     QWidget* parent)
    : QWidget(parent)
    , m_model(new LoginViewModel(authManager, this))
{
    m_model->onSuccess = std::move(onSuccess);
    m_model->onClose = std::move(onClose);
    setObjectName(QStringLiteral("LoginView"));
    setWindowTitle(QStringLiteral("Kestrova Cloud"));
    setFixedSize(400, 500);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 8, 0, 20);
    root->setSpacing(20);

    auto* topBar = new QHBoxLayout;
    topBar->setContentsMargins(0, 0, 8, 0);
    topBar->addStretch(1);
    QToolButton* close = AuthFormParts::closeButton(this);
    topBar->addWidget(close);
    root->addLayout(topBar);

    root->addWidget(AuthFormParts::header(QStringLiteral("cloud.fill"), QStringLiteral("Kestrova Cloud"),
                                          L::text(QStringLiteral("Войдите в свой аккаунт"),
                                                  QStringLiteral("Sign in to your account")),
                                          this));

    auto* form = new QWidget(this);
    auto* formLayout = new QVBoxLayout(form);
    formLayout->setContentsMargins(20, 0, 20, 0);
    formLayout->setSpacing(16);
    m_email = AuthFormParts::textField(QStringLiteral("name@example.com"), false, form);
    m_email->setObjectName(QStringLiteral("emailField"));
    formLayout->addWidget(AuthFormParts::fieldGroup(QStringLiteral("Email"), m_email, form));
    m_password = AuthFormParts::textField(L::text(QStringLiteral("Введите пароль"), QStringLiteral("Enter password")),
                                          true, form);
    m_password->setObjectName(QStringLiteral("passwordField"));
    formLayout->addWidget(
        AuthFormParts::fieldGroup(L::text(QStringLiteral("Пароль"), QStringLiteral("Password")), m_password, form));
    m_errorBox = new AuthErrorBox(form);
    formLayout->addWidget(m_errorBox);
    m_primary = new AuthPrimaryButton(form);
    formLayout->addWidget(m_primary);

    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    row->addStretch(1);
    row->addWidget(AuthFormParts::secondaryLabel(L::text(QStringLiteral("Нет аккаунта?"),
                                                         QStringLiteral("Don't have an account?")),
                                                 AuthFormParts::captionFont(), form));
    m_createAccount = AuthFormParts::linkButton(L::text(QStringLiteral("Создать аккаунт"), QStringLiteral("Create Account")),
                                                AuthFormParts::captionFont(), form);
    m_createAccount->setObjectName(QStringLiteral("createAccountButton"));
    row->addWidget(m_createAccount);
    row->addStretch(1);
    formLayout->addLayout(row);
    root->addWidget(form);

    root->addStretch(1);

    auto* footer = new QVBoxLayout;
    footer->setSpacing(4);
    QPushButton* forgot = AuthFormParts::linkButton(L::text(QStringLiteral("Забыли пароль?"), QStringLiteral("Forgot Password?")),
                                                    AuthFormParts::captionFont(), this);
    forgot->setObjectName(QStringLiteral("forgotPasswordLink"));
    footer->addWidget(forgot, 0, Qt::AlignHCenter);
    QLabel* terms = AuthFormParts::secondaryLabel(L::text(QStringLiteral("Входя, вы соглашаетесь с Условиями использования"),
                                                          QStringLiteral("By signing in, you agree to our Terms of Service")),
                                                  AuthFormParts::smallCaptionFont(), this);
    terms->setAlignment(Qt::AlignCenter);
    terms->setWordWrap(true);
    terms->setContentsMargins(20, 0, 20, 0);
    footer->addWidget(terms);
    root->addLayout(footer);

    // Return in a field submits nothing: only the button signs in.
    connect(m_email, &QLineEdit::textEdited, m_model, &LoginViewModel::setEmail);
    connect(m_password, &QLineEdit::textEdited, m_model, &LoginViewModel::setPassword);
    connect(m_primary, &QPushButton::clicked, m_model, &LoginViewModel::handleLogin);
    connect(close, &QToolButton::clicked, m_model, &LoginViewModel::close);
    connect(m_createAccount, &QPushButton::clicked, m_model, &LoginViewModel::showRegister);
    connect(forgot, &QPushButton::clicked, m_model, &LoginViewModel::forgotPassword);
    connect(m_model, &LoginViewModel::changed, this, &LoginView::refresh);
    connect(m_model, &LoginViewModel::registerRequested, this, &LoginView::presentRegister);
    connect(m_model, &LoginViewModel::dismissRequested, this, &QWidget::close);
    refresh();
}

void LoginView::refresh()
{
    if (m_email->text() != m_model->email())
        m_email->setText(m_model->email());
    if (m_password->text() != m_model->password())
        m_password->setText(m_model->password());
    const bool inputs = m_model->areInputsEnabled();
    m_email->setEnabled(inputs);
    m_password->setEnabled(inputs);
    m_createAccount->setEnabled(inputs);
    m_primary->setEnabled(m_model->isPrimaryEnabled());
    m_primary->setText(m_model->primaryTitle());
    m_primary->setBusy(m_model->isLoading());
    const auto error = m_model->errorText();
    m_errorBox->setVisible(error.has_value());
    m_errorBox->setMessage(error.value_or(QString()));
}

void LoginView::presentRegister()
{
    if (m_registerView)
        return;
    auto* sheet = new RegisterView([model = QPointer<LoginViewModel>(m_model)] {
        if (model)
            model->registerClosed();
    }, m_model->authManager(), this);
    sheet->setWindowFlag(Qt::Dialog);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_registerView = sheet;
    sheet->show();
}
