#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The serial component's failure: the translated text of a numbered message and, when the operating system
// gave one, the translated suffix " (win error code: %d)" carrying its error code (an errno value on Linux).
class EComPort : public std::exception {
public:
    // systemErrorCode -1 means "none": the message is the table text alone.
    EComPort(int portErrorCode, int systemErrorCode = -1);

    int PortErrorCode() const { return portErrorCode_; }
    int SystemErrorCode() const { return systemErrorCode_; }
    const QString& Message() const { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    int portErrorCode_;
    int systemErrorCode_;
    QString message_;
    QByteArray utf8_;
};

// Message numbers used by the component.
enum PortErrorCodes {
    CError_OpenFailed = 1,
    CError_WriteFailed = 2,
    CError_ReadFailed = 3,
    CError_InvalidAsync = 4,
    CError_PurgeFailed = 5,
    CError_SetStateFailed = 7,
    CError_TimeoutsFailed = 8,
    CError_SetupComFailed = 9,
    CError_ClearComFailed = 10,
    CError_ModemStatFailed = 11,
    CError_ConnChangeProp = 14,
    CError_StoreFailed = 16,
    CError_LoadFailed = 17,
    CError_RegError = 23,
};
