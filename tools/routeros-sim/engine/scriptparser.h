#pragma once

#include "scriptast.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

class MenuSchema;

// Reads console script text into statements, the way the router does before running anything:
// any syntax error, unbalanced brace or (up to 7.22) unknown argument name rejects the whole text.
class ScriptParser final
{
public:
    struct Options
    {
        bool exportMode = false;          // accept export files: unknown menus and arguments kept
        bool unknownArgumentAtRun = false; // 7.23 and later: "bad parameter" when reached
        // Read-only properties per menu that find and where may test besides the settable ones.
        QHash<QString, QStringList> readOnly;
    };

    ScriptParser(MenuSchema &schema, const Options &options);

    [[nodiscard]] bool parse(const QString &text, ScriptBlockPtr *block, QString *error);

private:
    struct Failure
    {
        QString message;
    };

    [[noreturn]] void fail(const QString &what, int at) const;
    [[nodiscard]] ScriptPos posAt(int index) const;
    [[nodiscard]] QChar peek(int ahead = 0) const;
    [[nodiscard]] bool atEnd() const { return m_i >= m_text.size(); }
    [[nodiscard]] bool atTerminator() const;
    void skipBlanks();
    [[nodiscard]] QString readWord();

    ScriptBlockPtr parseBlock(QString menu, QChar closer);
    ScriptStatementPtr parseStatement(QString &menu);
    ScriptStatementPtr parsePathCommand(QString &menu);
    ScriptStatementPtr parseCall(const QString &menu);
    ScriptStatementPtr parseGlobal(const QString &name, int namePos, const QString &menu);
    void parseArguments(ScriptStatement &st, const QString &argMenu);
    void skipStatement();
    [[nodiscard]] bool acceptsFind(const QString &menu, const QString &name) const;

    // code: a { } here is a block of statements (do=, on-error=), elsewhere an array.
    ScriptExprPtr parseValue(const QString &menu, bool code = false);
    ScriptExprPtr parseArrayLiteral(const QString &menu);
    [[nodiscard]] bool isDeclared(const QString &name) const;
    [[nodiscard]] QString expandWord(const QString &path, const QString &word) const;
    ScriptExprPtr parseQuoted(const QString &menu);
    ScriptExprPtr parseSubstitution(const QString &menu);
    ScriptExprPtr parseVariable();
    ScriptExprPtr parseBareWord();
    ScriptExprPtr parseBlockValue(const QString &menu);
    ScriptExprPtr parseExpression(const QString &menu, int minLevel);
    ScriptExprPtr parseUnary(const QString &menu);
    [[nodiscard]] QString peekOperator(int *level) const;

    MenuSchema &m_schema;
    Options m_options;
    QString m_text;
    QList<int> m_lineStarts;
    int m_i = 0;
    int m_nesting = 0; // inside [ ] or ( ): line ends are blanks there
    // Variables declared so far, one set per open block: :set needs a declaration in reach.
    QList<QSet<QString>> m_declared;
    QSet<QString> m_loopCounters; // declared in the next block, the loop's body
};
