#include "scriptparser.h"

#include "menuschema.h"

#include <algorithm>

namespace {

const QString kSyntaxError = QStringLiteral("syntax error");
const QString kExpectedEnd = QStringLiteral("expected end of command");
const QString kExpectedCommand = QStringLiteral("expected command name");
const QString kMissingBrace = QStringLiteral("missing closing brace");

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_')
            || c == QLatin1Char('.');
}

bool isBareChar(QChar c)
{
    return !(c.isSpace() || c == QLatin1Char(';') || c == QLatin1Char(')') || c == QLatin1Char(']')
             || c == QLatin1Char('}') || c == QLatin1Char('{') || c == QLatin1Char('[')
             || c == QLatin1Char('(') || c == QLatin1Char('"'));
}

QString joinMenu(const QString &menu, const QString &word)
{
    return menu.isEmpty() ? word : menu + QLatin1Char('/') + word;
}

QString parentMenu(const QString &menu)
{
    const int slash = menu.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : menu.left(slash);
}

const QStringList &exportVerbs()
{
    static const QStringList verbs = {QStringLiteral("add"), QStringLiteral("set"),
                                      QStringLiteral("remove"), QStringLiteral("enable"),
                                      QStringLiteral("disable")};
    return verbs;
}

// Read-only flags every list keeps, testable by find even where the command tree does not list
// them. Name, comment and disabled are not among them: a menu without them (a hotspot has no
// comment) refuses them in find as it does in set.
const QStringList &commonProperties()
{
    static const QStringList props = {
            QStringLiteral("dynamic"), QStringLiteral("default"),      QStringLiteral("default-name"),
            QStringLiteral("invalid"), QStringLiteral("running"),      QStringLiteral("type"),
            QStringLiteral(".id")};
    return props;
}

// How many values a global command takes without a name (:put takes one, :local two).
int unnamedValues(const QString &global)
{
    static const QHash<QString, int> table = {
            {QStringLiteral("local"), 2}, {QStringLiteral("global"), 2}, {QStringLiteral("set"), 2},
            {QStringLiteral("pick"), 3},  {QStringLiteral("find"), 3},
            {QStringLiteral("nothing"), 0}};
    return table.value(global, 1);
}

} // namespace

ScriptParser::ScriptParser(MenuSchema &schema, const Options &options)
    : m_schema(schema), m_options(options)
{
}

bool ScriptParser::parse(const QString &text, ScriptBlockPtr *block, QString *error)
{
    m_text = text;
    m_text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    m_lineStarts = {0};
    for (int i = 0; i < m_text.size(); ++i)
        if (m_text.at(i) == QLatin1Char('\n'))
            m_lineStarts << i + 1;
    m_i = 0;
    m_nesting = 0;
    m_declared.clear();
    m_loopCounters.clear();
    try {
        ScriptBlockPtr b = parseBlock(QString(), QChar());
        if (!atEnd())
            fail(kSyntaxError, m_i);
        *block = b;
        return true;
    } catch (const Failure &f) {
        if (error)
            *error = f.message;
        return false;
    }
}

void ScriptParser::fail(const QString &what, int at) const
{
    const ScriptPos p = posAt(at);
    throw Failure{QStringLiteral("%1 (line %2 column %3)").arg(what).arg(p.line).arg(p.column)};
}

ScriptPos ScriptParser::posAt(int index) const
{
    // Exports run to thousands of lines: find the line by halving.
    const int line = int(std::upper_bound(m_lineStarts.cbegin(), m_lineStarts.cend(), index)
                         - m_lineStarts.cbegin())
            - 1;
    // The router reads the text as bytes: a column counts the UTF-8 bytes before it.
    const int start = m_lineStarts.at(line);
    const int bytes = int(QStringView(m_text).mid(start, index - start).toUtf8().size());
    return ScriptPos{line + 1, bytes + 1};
}

QChar ScriptParser::peek(int ahead) const
{
    const int at = m_i + ahead;
    return at < m_text.size() ? m_text.at(at) : QChar();
}

bool ScriptParser::atTerminator() const
{
    if (atEnd())
        return true;
    const QChar c = peek();
    return c == QLatin1Char(';') || c == QLatin1Char('}') || c == QLatin1Char(']')
            || c == QLatin1Char(')') || (c == QLatin1Char('\n') && m_nesting == 0);
}

void ScriptParser::skipBlanks()
{
    while (!atEnd()) {
        const QChar c = peek();
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')
            || (c == QLatin1Char('\n') && m_nesting > 0)) {
            ++m_i;
        } else if (c == QLatin1Char('\\') && peek(1) == QLatin1Char('\n')) {
            m_i += 2;
        } else {
            break;
        }
    }
}

QString ScriptParser::readWord()
{
    const int start = m_i;
    while (!atEnd() && isWordChar(peek())) {
        if (peek() == QLatin1Char('.') && peek(1) == QLatin1Char('.'))
            break;
        ++m_i;
    }
    return m_text.mid(start, m_i - start);
}

ScriptBlockPtr ScriptParser::parseBlock(QString menu, QChar closer)
{
    auto block = std::make_shared<ScriptBlock>();
    const int savedNesting = m_nesting;
    m_nesting = 0;
    // A loop's counters belong to its body.
    m_declared.append(m_loopCounters);
    m_loopCounters.clear();
    for (;;) {
        while (!atEnd()) {
            const QChar c = peek();
            if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')
                || c == QLatin1Char(';')) {
                ++m_i;
            } else if (c == QLatin1Char('\\') && peek(1) == QLatin1Char('\n')) {
                m_i += 2;
            } else {
                break;
            }
        }
        if (atEnd()) {
            if (!closer.isNull())
                fail(kMissingBrace, m_text.size());
            break;
        }
        if (!closer.isNull() && peek() == closer)
            break;
        if (peek() == QLatin1Char('}') || peek() == QLatin1Char(']') || peek() == QLatin1Char(')'))
            fail(kSyntaxError, m_i);
        ScriptStatementPtr st = parseStatement(menu);
        if (st)
            block->statements << st;
        skipBlanks();
        if (!atTerminator())
            fail(kExpectedEnd, m_i);
    }
    m_nesting = savedNesting;
    m_declared.removeLast();
    return block;
}

bool ScriptParser::isDeclared(const QString &name) const
{
    for (const QSet<QString> &scope : m_declared)
        if (scope.contains(name))
            return true;
    return false;
}

// A word as the console completes it: an exact name, else the one child of the menu (submenu or
// command) it begins. Only where the command tree lists the menu's children.
QString ScriptParser::expandWord(const QString &path, const QString &word) const
{
    if (m_schema.hasMenu(joinMenu(path, word)) || m_schema.hasCommand(path, word)
        || m_schema.acceptsAnyArgument(path))
        return word;
    QString found;
    for (const QString &child : m_schema.children(path)) {
        if (!child.startsWith(word))
            continue;
        if (!found.isEmpty())
            return word;
        found = child;
    }
    return found.isEmpty() ? word : found;
}

ScriptStatementPtr ScriptParser::parseStatement(QString &menu)
{
    const QChar c = peek();
    if (c == QLatin1Char('#')) {
        while (!atEnd() && peek() != QLatin1Char('\n'))
            ++m_i;
        return nullptr;
    }
    if (c == QLatin1Char(':')) {
        ++m_i;
        const int namePos = m_i;
        const QString name = readWord();
        if (name.isEmpty())
            fail(kExpectedCommand, namePos);
        return parseGlobal(name, namePos, menu);
    }
    if (c == QLatin1Char('{')) {
        auto st = std::make_shared<ScriptStatement>();
        st->kind = ScriptStatement::Kind::Block;
        st->pos = posAt(m_i);
        ++m_i;
        st->block = parseBlock(menu, QLatin1Char('}'));
        ++m_i;
        return st;
    }
    if (c == QLatin1Char('/') || c == QLatin1Char('.') || c.isLower() || c.isDigit())
        return parsePathCommand(menu);
    if (c == QLatin1Char('$'))
        return parseCall(menu);
    fail(kExpectedCommand, m_i);
}

ScriptStatementPtr ScriptParser::parseCall(const QString &menu)
{
    auto st = std::make_shared<ScriptStatement>();
    st->kind = ScriptStatement::Kind::Call;
    st->pos = posAt(m_i);
    st->menu = menu;
    st->verb = parseVariable()->text;
    for (;;) {
        skipBlanks();
        if (atTerminator())
            return st;
        const int argStart = m_i;
        ScriptArg arg;
        arg.pos = posAt(argStart);
        if (isWordChar(peek()) && peek() != QLatin1Char('.')) {
            const QString name = readWord();
            if (peek() == QLatin1Char('=')) {
                ++m_i;
                arg.name = name;
            } else {
                m_i = argStart;
            }
        }
        arg.value = parseValue(menu);
        st->args << arg;
    }
}

ScriptStatementPtr ScriptParser::parsePathCommand(QString &menu)
{
    auto st = std::make_shared<ScriptStatement>();
    st->pos = posAt(m_i);
    QString path = menu;
    bool pathGiven = false;
    if (peek() == QLatin1Char('/')) {
        ++m_i;
        path.clear();
        pathGiven = true;
    }
    for (;;) {
        if (peek() == QLatin1Char('/')) {
            ++m_i;
            continue;
        }
        if (peek() == QLatin1Char('.') && peek(1) == QLatin1Char('.')) {
            m_i += 2;
            path = parentMenu(path);
            pathGiven = true;
            continue;
        }
        skipBlanks();
        if (atTerminator() || peek() == QLatin1Char('{'))
            break;
        const int wordPos = m_i;
        QString word = readWord();
        if (word.isEmpty() || !word.at(0).isLower())
            fail(kExpectedCommand, wordPos);
        const bool followedByValue = peek() == QLatin1Char('=');
        if (!followedByValue && !m_options.exportMode)
            word = expandWord(path, word);
        const QString sub = joinMenu(path, word);
        if (!followedByValue && m_schema.hasMenu(sub)) {
            path = sub;
            pathGiven = true;
            if (m_schema.isCommandMenu(path)) {
                st->kind = ScriptStatement::Kind::Command;
                st->menu = path;
                parseArguments(*st, path);
                return st;
            }
            continue;
        }
        if (m_schema.hasCommand(path, word)) {
            st->kind = ScriptStatement::Kind::Command;
            st->menu = path;
            st->verb = word;
            parseArguments(*st, path);
            return st;
        }
        if (path.isEmpty() && m_schema.isGlobalCommand(word))
            return parseGlobal(word, wordPos, menu);
        if (m_options.exportMode && !followedByValue) {
            if (exportVerbs().contains(word)) {
                m_schema.addGenericMenu(path);
                st->kind = ScriptStatement::Kind::Command;
                st->menu = path;
                st->verb = word;
                parseArguments(*st, path);
                return st;
            }
            path = sub;
            pathGiven = true;
            m_schema.addGenericMenu(path);
            continue;
        }
        if (m_schema.acceptsAnyArgument(path) && !followedByValue) {
            // A menu known to exist whose commands the tree does not list (/log info,
            // /system script run): the word is its command.
            st->kind = ScriptStatement::Kind::Command;
            st->menu = path;
            st->verb = word;
            parseArguments(*st, path);
            return st;
        }
        st->kind = ScriptStatement::Kind::BadCommand;
        st->badWord = word;
        st->badPos = posAt(wordPos);
        skipStatement();
        return st;
    }
    if (peek() == QLatin1Char('{')) {
        st->kind = ScriptStatement::Kind::MenuBlock;
        st->menu = path;
        ++m_i;
        st->block = parseBlock(path, QLatin1Char('}'));
        ++m_i;
        return st;
    }
    if (!pathGiven)
        fail(kExpectedCommand, m_i);
    st->kind = ScriptStatement::Kind::ChangeMenu;
    st->menu = path;
    menu = path;
    return st;
}

void ScriptParser::skipStatement()
{
    int depth = 0;
    while (!atEnd()) {
        const QChar c = peek();
        if (c == QLatin1Char('"')) {
            ++m_i;
            while (!atEnd() && peek() != QLatin1Char('"')) {
                if (peek() == QLatin1Char('\\'))
                    ++m_i;
                ++m_i;
            }
            ++m_i;
            continue;
        }
        if (c == QLatin1Char('[') || c == QLatin1Char('(') || c == QLatin1Char('{')) {
            ++depth;
        } else if (c == QLatin1Char(']') || c == QLatin1Char(')') || c == QLatin1Char('}')) {
            if (depth == 0)
                return;
            --depth;
        } else if (depth == 0 && (c == QLatin1Char(';') || (c == QLatin1Char('\n') && m_nesting == 0))) {
            return;
        }
        ++m_i;
    }
}

bool ScriptParser::acceptsFind(const QString &menu, const QString &name) const
{
    return m_schema.acceptsAnyArgument(menu) || m_schema.acceptsArgument(menu, QStringLiteral("set"), name)
            || m_schema.acceptsArgument(menu, QStringLiteral("add"), name)
            || m_options.readOnly.value(menu).contains(name) || commonProperties().contains(name);
}

void ScriptParser::parseArguments(ScriptStatement &st, const QString &argMenu)
{
    const QString command = st.verb;
    const bool filters = command == QLatin1String("find") || command == QLatin1String("print");
    // Values without a name are the item list (numbers) and, for get, the property; a command
    // such as add takes none, so a stray word is an error before anything runs.
    int unnamedLimit = -1;
    int unnamed = 0;
    if (!m_options.exportMode && !m_schema.acceptsAnyArgument(argMenu)) {
        if (command.isEmpty()) {
            unnamedLimit = 1;
        } else {
            const QStringList accepted = m_schema.arguments(argMenu, command);
            unnamedLimit = (accepted.contains(QStringLiteral("numbers"))
                            || accepted.contains(QStringLiteral("number")) ? 1 : 0)
                    + (accepted.contains(QStringLiteral("value-name")) ? 1 : 0)
                    + (command == QLatin1String("comment") ? 1 : 0);
        }
    }
    for (;;) {
        skipBlanks();
        if (atTerminator())
            return;
        const int argStart = m_i;
        if (isWordChar(peek()) && peek() != QLatin1Char('.')) {
            QString name = readWord();
            if (name == QLatin1String("where") && filters && peek() == QLatin1Char('='))
                ++m_i; // where=expression reads as where expression
            const bool regex = filters && peek() == QLatin1Char('~');
            if (peek() == QLatin1Char('=') || regex) {
                const int equals = m_i;
                bool known = m_options.exportMode
                        || m_schema.acceptsArgument(argMenu, command, name)
                        || (filters && acceptsFind(argMenu, name));
                if (!known && !filters) {
                    // An argument name may be shortened as long as it stays unique.
                    QStringList candidates;
                    for (const QString &a : m_schema.arguments(argMenu, command))
                        if (a.startsWith(name))
                            candidates << a;
                    if (candidates.size() == 1) {
                        name = candidates.first();
                        known = true;
                    }
                }
                if (!known && !m_options.unknownArgumentAtRun)
                    fail(kExpectedEnd, argStart);
                if (!known && st.badParameter.isEmpty()) {
                    st.badParameter = name;
                    st.badPos = posAt(equals);
                }
                ++m_i;
                // Exports wrap long lines right after "=".
                while (peek() == QLatin1Char('\\') && peek(1) == QLatin1Char('\n')) {
                    m_i += 2;
                    while (peek() == QLatin1Char(' ') || peek() == QLatin1Char('\t'))
                        ++m_i;
                }
                ScriptArg arg;
                arg.name = name;
                arg.regex = regex;
                arg.pos = posAt(argStart);
                arg.equalsPos = posAt(equals);
                if (atTerminator() || peek() == QLatin1Char(' ') || peek() == QLatin1Char('\t'))
                    arg.value = std::make_shared<ScriptExpr>();
                else
                    arg.value = parseValue(argMenu, name == QLatin1String("do"));
                st.args << arg;
                continue;
            }
            if (name == QLatin1String("where") && filters) {
                skipBlanks();
                if (atTerminator())
                    fail(QStringLiteral("missing value for where"), m_i);
                st.where = parseExpression(argMenu, 0);
                continue;
            }
            // Where the command tree does not describe the menu, a bare word is an item
            // reference (`set 0`, `set wlan1`) except for the listing commands' flags.
            const bool generic = m_schema.acceptsAnyArgument(argMenu);
            const bool flag = m_schema.acceptsArgument(argMenu, command, name)
                    && (!generic || filters || command == QLatin1String("export"))
                    && name != QLatin1String("numbers") && name != QLatin1String("number")
                    && name != QLatin1String("value-name");
            if (flag) {
                ScriptArg arg;
                arg.name = name;
                arg.pos = posAt(argStart);
                st.args << arg;
                continue;
            }
            m_i = argStart;
        }
        if (unnamedLimit >= 0 && ++unnamed > unnamedLimit)
            fail(kExpectedEnd, argStart);
        ScriptArg arg;
        arg.pos = posAt(argStart);
        arg.value = parseValue(argMenu);
        arg.raw = m_text.mid(argStart, m_i - argStart).simplified();
        st.args << arg;
    }
}

ScriptStatementPtr ScriptParser::parseGlobal(const QString &name, int namePos, const QString &menu)
{
    auto st = std::make_shared<ScriptStatement>();
    st->kind = ScriptStatement::Kind::Global;
    st->verb = name;
    st->menu = menu;
    st->pos = posAt(namePos);
    // The command tree and the list of other global commands name every one the version has,
    // so one they lack is missing from it (:onerror before 7.13, :range before 7.17).
    if (!m_schema.isGlobalCommand(name)) {
        st->kind = ScriptStatement::Kind::BadCommand;
        st->badWord = name;
        st->badPos = posAt(namePos);
        skipStatement();
        return st;
    }
    const bool declares = name == QLatin1String("local") || name == QLatin1String("global");
    // Loop counters and the error variable of :onerror are declared by their command.
    const bool loop = name == QLatin1String("foreach") || name == QLatin1String("for");
    int unnamed = 0;
    for (;;) {
        skipBlanks();
        if (atTerminator())
            break;
        const int argStart = m_i;
        if (peek().isLetter()) {
            const QString argName = readWord();
            if (peek() == QLatin1Char('=')) {
                // Each global command has its own argument names: :if has no on-error, :do no else.
                if (!m_schema.globalArguments(name).contains(argName)
                    && !m_schema.acceptsAnyGlobalArgument(name))
                    fail(kExpectedEnd, argStart);
                ++m_i;
                skipBlanks();
                ScriptArg arg;
                arg.name = argName;
                arg.pos = posAt(argStart);
                const bool code = argName == QLatin1String("do")
                        || argName == QLatin1String("on-error") || argName == QLatin1String("else")
                        || argName == QLatin1String("command")
                        || (argName == QLatin1String("in") && name == QLatin1String("onerror"));
                arg.value = parseValue(menu, code);
                st->args << arg;
                continue;
            }
            m_i = argStart;
        }
        if (++unnamed > unnamedValues(name) && !m_schema.acceptsAnyGlobalArgument(name))
            fail(kExpectedEnd, argStart);
        // The name a variable command declares or sets is a plain name, never $name.
        const bool namesOne = declares || name == QLatin1String("set");
        if (unnamed == 1 && namesOne && peek() == QLatin1Char('$'))
            fail(kSyntaxError, argStart);
        ScriptArg arg;
        arg.pos = posAt(argStart);
        arg.value = parseValue(menu, name == QLatin1String("do") && unnamed == 1);
        st->args << arg;
        if (unnamed == 1 && arg.value->kind == ScriptExpr::Kind::Word) {
            const QStringList names = arg.value->text.split(QLatin1Char(','));
            if (loop)
                m_loopCounters = QSet<QString>(names.cbegin(), names.cend());
            else if (name == QLatin1String("onerror"))
                m_declared.last().insert(names.first());
        }
        if (unnamed == 1 && name == QLatin1String("set")) {
            // RouterOS compiles :set only against a variable declared in reach (:local,
            // :global); ($array->key) sets an element of one.
            const ScriptExpr *target = arg.value.get();
            while (target->kind == ScriptExpr::Kind::Binary && target->text == QLatin1String("->"))
                target = target->a.get();
            const QString variable = target->kind == ScriptExpr::Kind::Word ? target->text
                    : target->kind == ScriptExpr::Kind::Variable              ? target->text
                                                                             : QString();
            if (!isDeclared(variable))
                fail(kSyntaxError, argStart);
        }
    }
    if (declares && !st->args.isEmpty() && st->args.first().name.isEmpty()) {
        const ScriptExpr &first = *st->args.first().value;
        if (first.kind == ScriptExpr::Kind::Word)
            m_declared.last().insert(first.text);
        else if (first.kind == ScriptExpr::Kind::Quoted && first.parts.size() == 1)
            m_declared.last().insert(first.parts.first()->text);
    }
    return st;
}

ScriptExprPtr ScriptParser::parseValue(const QString &menu, bool code)
{
    const QChar c = peek();
    if (c == QLatin1Char('"'))
        return parseQuoted(menu);
    if (c == QLatin1Char('['))
        return parseSubstitution(menu);
    if (c == QLatin1Char('$'))
        return parseVariable();
    if (c == QLatin1Char('{')) {
        // Braces that open with a command (:put, /ip ...) hold code wherever they stand
        // (:execute {/log info x}); otherwise they are an array.
        int at = m_i + 1;
        while (at < m_text.size() && m_text.at(at).isSpace())
            ++at;
        const QChar first = at < m_text.size() ? m_text.at(at) : QChar();
        const QChar second = at + 1 < m_text.size() ? m_text.at(at + 1) : QChar();
        const bool statement = first == QLatin1Char('/')
                || (first == QLatin1Char(':') && second.isLetter());
        return code || statement ? parseBlockValue(menu) : parseArrayLiteral(menu);
    }
    if (c == QLatin1Char('(')) {
        ++m_i;
        ++m_nesting;
        skipBlanks();
        ScriptExprPtr e = peek() == QLatin1Char(')') ? std::make_shared<ScriptExpr>()
                                                     : parseExpression(menu, 0);
        skipBlanks();
        if (peek() != QLatin1Char(')'))
            fail(kSyntaxError, m_i);
        ++m_i;
        --m_nesting;
        return e;
    }
    return parseBareWord();
}

ScriptExprPtr ScriptParser::parseBareWord()
{
    auto e = std::make_shared<ScriptExpr>();
    e->kind = ScriptExpr::Kind::Word;
    e->pos = posAt(m_i);
    const int start = m_i;
    QString text;
    while (!atEnd() && isBareChar(peek())) {
        if (peek() == QLatin1Char('\\') && peek(1) == QLatin1Char('\n')) {
            m_i += 2;
            while (peek() == QLatin1Char(' ') || peek() == QLatin1Char('\t'))
                ++m_i;
            continue;
        }
        text += peek();
        ++m_i;
    }
    if (m_i == start)
        fail(kSyntaxError, m_i);
    e->text = text;
    return e;
}

ScriptExprPtr ScriptParser::parseArrayLiteral(const QString &menu)
{
    auto e = std::make_shared<ScriptExpr>();
    e->kind = ScriptExpr::Kind::Array;
    e->pos = posAt(m_i);
    // {} alone is no value; inside ( ) it is the empty array.
    const bool enclosed = m_nesting > 0;
    ++m_i;
    ++m_nesting;
    for (;;) {
        skipBlanks();
        if (atEnd())
            fail(kMissingBrace, m_i);
        if (peek() == QLatin1Char('}'))
            break;
        QString key;
        const int elementStart = m_i;
        if (isWordChar(peek())) {
            const QString word = readWord();
            if (peek() == QLatin1Char('=') && !word.isEmpty()) {
                key = word;
                ++m_i;
            } else {
                m_i = elementStart;
            }
        } else if (peek() == QLatin1Char('"')) {
            // {"a"=1}: a quoted key; a quoted value stands alone.
            const ScriptExprPtr quoted = parseQuoted(menu);
            const bool plain = std::all_of(
                    quoted->parts.cbegin(), quoted->parts.cend(),
                    [](const ScriptExprPtr &p) { return p->kind == ScriptExpr::Kind::Text; });
            if (peek() == QLatin1Char('=') && plain) {
                for (const ScriptExprPtr &p : quoted->parts)
                    key += p->text;
                ++m_i;
            } else {
                m_i = elementStart;
            }
        }
        skipBlanks();
        if (peek() == QLatin1Char(';') || peek() == QLatin1Char('}')) {
            e->parts << std::make_shared<ScriptExpr>();
        } else {
            e->parts << parseExpression(menu, 0);
        }
        e->keys << key;
        skipBlanks();
        if (peek() == QLatin1Char(';')) {
            ++m_i;
            continue;
        }
        if (peek() != QLatin1Char('}'))
            fail(kSyntaxError, m_i);
    }
    ++m_i;
    --m_nesting;
    if (e->parts.isEmpty() && !enclosed)
        fail(kSyntaxError, m_i);
    return e;
}

ScriptExprPtr ScriptParser::parseBlockValue(const QString &menu)
{
    auto e = std::make_shared<ScriptExpr>();
    e->kind = ScriptExpr::Kind::Block;
    e->pos = posAt(m_i);
    ++m_i;
    e->block = parseBlock(menu, QLatin1Char('}'));
    ++m_i;
    return e;
}

ScriptExprPtr ScriptParser::parseSubstitution(const QString &menu)
{
    auto e = std::make_shared<ScriptExpr>();
    e->kind = ScriptExpr::Kind::Command;
    e->pos = posAt(m_i);
    ++m_i;
    ++m_nesting;
    skipBlanks();
    if (peek() != QLatin1Char(']')) {
        QString ctx = menu;
        e->command = parseStatement(ctx);
        skipBlanks();
    }
    if (atEnd())
        fail(kSyntaxError, m_i);
    if (peek() != QLatin1Char(']'))
        fail(kExpectedEnd, m_i);
    ++m_i;
    --m_nesting;
    return e;
}

ScriptExprPtr ScriptParser::parseVariable()
{
    auto e = std::make_shared<ScriptExpr>();
    e->kind = ScriptExpr::Kind::Variable;
    e->pos = posAt(m_i);
    ++m_i;
    if (peek() == QLatin1Char('"')) {
        ++m_i;
        const int start = m_i;
        while (!atEnd() && peek() != QLatin1Char('"'))
            ++m_i;
        e->text = m_text.mid(start, m_i - start);
        ++m_i;
        return e;
    }
    const int start = m_i;
    while (!atEnd() && (peek().isLetterOrNumber() || peek() == QLatin1Char('_')))
        ++m_i;
    if (m_i == start)
        fail(kSyntaxError, start);
    e->text = m_text.mid(start, m_i - start);
    return e;
}

ScriptExprPtr ScriptParser::parseQuoted(const QString &menu)
{
    auto e = std::make_shared<ScriptExpr>();
    e->kind = ScriptExpr::Kind::Quoted;
    e->pos = posAt(m_i);
    const int open = m_i;
    ++m_i;
    QString piece;
    auto flush = [&]() {
        if (piece.isEmpty())
            return;
        auto t = std::make_shared<ScriptExpr>();
        t->kind = ScriptExpr::Kind::Text;
        t->text = piece;
        e->parts << t;
        piece.clear();
    };
    auto hex = [](QChar c) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            return c.unicode() - '0';
        if (c >= QLatin1Char('A') && c <= QLatin1Char('F'))
            return c.unicode() - 'A' + 10;
        return -1;
    };
    for (;;) {
        if (atEnd())
            fail(kSyntaxError, open);
        const QChar c = peek();
        if (c == QLatin1Char('"')) {
            ++m_i;
            break;
        }
        if (c == QLatin1Char('\\')) {
            const QChar n = peek(1);
            const int escapeAt = m_i;
            m_i += 2;
            switch (n.unicode()) {
            case '"': piece += QLatin1Char('"'); break;
            case '\\': piece += QLatin1Char('\\'); break;
            case '$': piece += QLatin1Char('$'); break;
            case '?': piece += QLatin1Char('?'); break;
            case 'n': piece += QLatin1Char('\n'); break;
            case 'r': piece += QLatin1Char('\r'); break;
            case 't': piece += QLatin1Char('\t'); break;
            case '_': piece += QLatin1Char(' '); break;
            case 'a': piece += QChar(7); break;
            case 'b': piece += QChar(8); break;
            case 'f': piece += QChar(12); break;
            case 'v': piece += QChar(11); break;
            case '\n':
                while (!atEnd() && (peek() == QLatin1Char(' ') || peek() == QLatin1Char('\t')))
                    ++m_i;
                break;
            default: {
                const int hi = hex(n);
                const int lo = hex(peek());
                if (hi < 0 || lo < 0)
                    fail(kSyntaxError, escapeAt);
                ++m_i;
                piece += QChar(hi * 16 + lo);
            }
            }
            continue;
        }
        if (c == QLatin1Char('$')) {
            const QChar n = peek(1);
            if (n == QLatin1Char('(') || n == QLatin1Char('[')) {
                flush();
                ++m_i;
                e->parts << parseValue(menu);
                continue;
            }
            if (n.isLetterOrNumber() || n == QLatin1Char('_') || n == QLatin1Char('"')) {
                flush();
                e->parts << parseVariable();
                continue;
            }
        }
        piece += c;
        ++m_i;
    }
    flush();
    return e;
}

QString ScriptParser::peekOperator(int *level) const
{
    static const struct {
        const char *op;
        int level;
    } ops[] = {{"||", 0}, {"&&", 1}, {"<<", 4}, {">>", 4}, {"!=", 2}, {"<=", 2}, {">=", 2},
               {"->", 5}, {"=", 2},  {"<", 2},  {">", 2},  {"~", 2},  {".", 3},  {",", 3},
               {"+", 3},  {"-", 3},  {"&", 3},  {"|", 3},  {"^", 3},  {"*", 4},  {"/", 4},
               {"%", 4}};
    for (const auto &o : ops) {
        const QLatin1String op(o.op);
        if (QStringView(m_text).mid(m_i).startsWith(op)) {
            *level = o.level;
            return op;
        }
    }
    for (const char *word : {"and", "or", "in"}) {
        const QLatin1String w(word);
        if (QStringView(m_text).mid(m_i).startsWith(w)) {
            const QChar after = m_i + w.size() < m_text.size() ? m_text.at(m_i + w.size()) : QChar();
            if (!isWordChar(after)) {
                *level = w == QLatin1String("or") ? 0 : (w == QLatin1String("and") ? 1 : 2);
                return w;
            }
        }
    }
    return QString();
}

ScriptExprPtr ScriptParser::parseExpression(const QString &menu, int minLevel)
{
    ScriptExprPtr left = parseUnary(menu);
    for (;;) {
        skipBlanks();
        if (atEnd() || peek() == QLatin1Char(')') || atTerminator())
            return left;
        int level = 0;
        const QString op = peekOperator(&level);
        if (op.isEmpty())
            fail(kSyntaxError, m_i);
        if (level < minLevel)
            return left;
        const int opPos = m_i;
        m_i += op.size();
        skipBlanks();
        ScriptExprPtr right = parseExpression(menu, level + 1);
        auto bin = std::make_shared<ScriptExpr>();
        bin->kind = ScriptExpr::Kind::Binary;
        bin->text = op == QLatin1String("and") ? QStringLiteral("&&")
                : op == QLatin1String("or")    ? QStringLiteral("||")
                                               : op;
        bin->a = left;
        bin->b = right;
        bin->pos = posAt(opPos);
        left = bin;
    }
}

ScriptExprPtr ScriptParser::parseUnary(const QString &menu)
{
    skipBlanks();
    if (atEnd())
        fail(kSyntaxError, m_i);
    const QChar c = peek();
    if (c == QLatin1Char('!') || (c == QLatin1Char('-') && !peek(1).isDigit())) {
        auto u = std::make_shared<ScriptExpr>();
        u->kind = ScriptExpr::Kind::Unary;
        u->text = c;
        u->pos = posAt(m_i);
        ++m_i;
        u->a = parseUnary(menu);
        return u;
    }
    if (c == QLatin1Char('"') || c == QLatin1Char('[') || c == QLatin1Char('$')
        || c == QLatin1Char('(') || c == QLatin1Char('{'))
        return parseValue(menu);
    auto e = std::make_shared<ScriptExpr>();
    e->kind = ScriptExpr::Kind::Word;
    e->pos = posAt(m_i);
    const int start = m_i;
    if (c == QLatin1Char('-'))
        ++m_i;
    while (!atEnd()) {
        const QChar w = peek();
        // IPv6 addresses join with "::", also at their start (::1).
        const bool colons = w == QLatin1Char(':')
                && (peek(1) == QLatin1Char(':') || (m_i > start && peek(-1) == QLatin1Char(':')));
        const bool joins = colons
                || ((w == QLatin1Char('.') || w == QLatin1Char('/') || w == QLatin1Char(':')
                     || w == QLatin1Char('-'))
                    && m_i > start && peek(1).isLetterOrNumber());
        if (w.isLetterOrNumber() || w == QLatin1Char('_') || w == QLatin1Char('*') || joins)
            ++m_i;
        else
            break;
    }
    if (m_i == start)
        fail(kSyntaxError, m_i);
    e->text = m_text.mid(start, m_i - start);
    return e;
}
