#pragma once

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>

class QLabel;

namespace app {

/// The start-up window: a picture and a notice for about 1.4 s, then it hands over.
class frmSplash : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kCountIntervalMs = 200;
    static constexpr int kHandOverIntervalMs = 100;
    static constexpr int kTicksBeforeHandOver = 6;

    /// handOver runs once, after the splash has closed itself.
    explicit frmSplash(std::function<void()> handOver);

    void Form_Load();
    void Timer2_Timer();
    void Timer1_Timer();

    QLabel* Label1 = nullptr;
    QTimer Timer2;
    QTimer Timer1;
    std::int16_t tickCounter = 0;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    std::function<void()> m_handOver;
    bool m_closing = false;
    QPixmap m_picture;
};

} // namespace app
