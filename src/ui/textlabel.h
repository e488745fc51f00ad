#pragma once

#include <QLabel>

// A word-wrapped label of plain text that remembers its height for the last few widths. A
// label measures its text with a full text layout for every width it is asked about, and the
// window's nested layouts and scroll area ask again and again while the window is laid out:
// without this, measuring the same few texts took most of the time to the first frame.
class TextLabel : public QLabel
{
    Q_OBJECT

public:
    explicit TextLabel(const QString &text = QString(), QWidget *parent = nullptr);

    int heightForWidth(int width) const override;

protected:
    void changeEvent(QEvent *event) override;

private:
    struct Measure
    {
        int width = -1;
        int height = 0;
    };
    static constexpr int kRemembered = 8;

    // What the heights were measured for: a change of any of them forgets them all.
    mutable QString m_measuredText;
    mutable QMargins m_measuredMargins;
    mutable Measure m_heights[kRemembered];
    mutable int m_next = 0;
};
