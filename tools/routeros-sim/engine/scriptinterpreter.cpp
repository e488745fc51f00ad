#include "scriptinterpreter.h"

#include "configmodel.h"
#include "menuschema.h"

#include <QJsonObject>
#include <QRegularExpression>

namespace {

const QString kBadCommand = QStringLiteral("bad command name %1 %2");
const QString kBadParameter = QStringLiteral("bad parameter %1 %2");
const QString kNoSuchItem = QStringLiteral("no such item");
const QString kSeveralItems = QStringLiteral("invalid internal item number");
const QString kFetchFailed = QStringLiteral("failure: connection timeout");
const QString kNoProperty = QStringLiteral("input does not match any value of value-name");
const QString kMissingNumbers = QStringLiteral("missing value(s) of argument(s) numbers");

// Holds one variable scope for as long as a block runs, however it ends (a RouterOS error that an
// outer on-error catches included).
class ScopedVariables
{
public:
    ScopedVariables(QList<QHash<QString, RosValue>> &scopes, QHash<QString, RosValue> variables)
        : m_scopes(scopes)
    {
        m_scopes.append(std::move(variables));
    }
    ~ScopedVariables() { m_scopes.removeLast(); }
    ScopedVariables(const ScopedVariables &) = delete;
    ScopedVariables &operator=(const ScopedVariables &) = delete;

private:
    QList<QHash<QString, RosValue>> &m_scopes;
};

bool isYes(const QString &v)
{
    return v == QLatin1String("yes") || v == QLatin1String("true");
}

bool ipv4(const QString &text, quint32 *out)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    quint32 v = 0;
    for (const QString &p : parts) {
        bool ok = false;
        const uint octet = p.toUInt(&ok);
        if (!ok || octet > 255)
            return false;
        v = (v << 8) | octet;
    }
    *out = v;
    return true;
}

} // namespace

ScriptInterpreter::ScriptInterpreter(ConfigModel &model, const MenuSchema &schema,
                                     Scenario &scenario, QHash<QString, RosValue> &globals)
    : m_model(model), m_schema(schema), m_scenario(scenario), m_globals(globals)
{
}

QString ScriptInterpreter::at(const ScriptPos &pos)
{
    return QStringLiteral("(line %1 column %2)").arg(pos.line).arg(pos.column);
}

void ScriptInterpreter::raise(const QString &message) const
{
    throw Error{message, true};
}

void ScriptInterpreter::out(const QString &line)
{
    m_result.lines << line;
}

QString ScriptInterpreter::valueText(const RosValue &v)
{
    if (v.isArray()) {
        QStringList parts;
        for (const RosValue &item : v.items())
            parts << item.toString();
        return parts.join(QLatin1Char(','));
    }
    if (v.kind() == RosValue::Kind::Bool)
        return v.truthy() ? QStringLiteral("yes") : QStringLiteral("no");
    return v.toString();
}

ScriptInterpreter::Result ScriptInterpreter::run(const ScriptBlock &block)
{
    m_result = Result();
    m_cutoff = -1;
    m_scopes = {QHash<QString, RosValue>()};
    m_declaredGlobals.clear();
    try {
        runStatements(block);
    } catch (const Error &e) {
        out(e.message);
        m_result.failed = true;
    } catch (const Stop &) {
    } catch (const Return &) {
    }
    if (m_cutoff >= 0 && m_cutoff < m_result.lines.size())
        m_result.lines = m_result.lines.mid(0, m_cutoff);
    return m_result;
}

void ScriptInterpreter::runBlock(const ScriptBlock &block)
{
    const ScopedVariables scope(m_scopes, {});
    runStatements(block);
}

void ScriptInterpreter::runStatements(const ScriptBlock &block)
{
    for (const ScriptStatementPtr &st : block.statements) {
        if (!m_model.exportMode()) {
            exec(*st);
            continue;
        }
        // A real router wrote the export and took every line of it: a line this router cannot
        // apply (a reference to hardware it lacks) is noted and the load goes on.
        try {
            exec(*st);
        } catch (const Error &e) {
            m_result.skipped << QStringLiteral("%1 %2").arg(e.message, at(st->pos));
        }
    }
}

void ScriptInterpreter::runValueBlock(const ScriptExprPtr &e)
{
    if (!e)
        return;
    if (e->kind == ScriptExpr::Kind::Block && e->block)
        runBlock(*e->block);
    else
        eval(*e);
}

RosValue ScriptInterpreter::exec(const ScriptStatement &st)
{
    switch (st.kind) {
    case ScriptStatement::Kind::ChangeMenu:
        return RosValue();
    case ScriptStatement::Kind::MenuBlock:
    case ScriptStatement::Kind::Block:
        runBlock(*st.block);
        return RosValue();
    case ScriptStatement::Kind::BadCommand:
        throw Error{kBadCommand.arg(st.badWord, at(st.badPos)), m_scenario.badCommandCatchable};
    case ScriptStatement::Kind::Global:
        return runGlobal(st);
    case ScriptStatement::Kind::Command:
        return runCommand(st);
    case ScriptStatement::Kind::Call:
        return call(st);
    }
    return RosValue();
}

RosValue ScriptInterpreter::call(const ScriptStatement &st)
{
    const RosValue function = lookup(st.verb);
    const std::shared_ptr<ScriptBlock> body = function.block();
    if (function.kind() != RosValue::Kind::Code || !body)
        return RosValue();
    // The function sees its values as $1, $2 ... ($0 is its own name) and its named arguments
    // as variables of those names.
    QHash<QString, RosValue> arguments{{QStringLiteral("0"), RosValue::str(st.verb)}};
    int n = 0;
    for (const ScriptArg &arg : st.args)
        arguments.insert(arg.name.isEmpty() ? QString::number(++n) : arg.name, eval(*arg.value));
    if (++m_depth > 100) {
        --m_depth;
        raise(QStringLiteral("failure: too many nested calls"));
    }
    try {
        const ScopedVariables scope(m_scopes, arguments);
        runStatements(*body);
    } catch (const Return &r) {
        --m_depth;
        return r.value;
    } catch (...) {
        --m_depth;
        throw;
    }
    --m_depth;
    return RosValue();
}

RosValue ScriptInterpreter::lookup(const QString &name) const
{
    for (int i = m_scopes.size() - 1; i >= 0; --i) {
        const auto it = m_scopes.at(i).constFind(name);
        if (it != m_scopes.at(i).constEnd())
            return it.value();
    }
    // A global from an earlier script is seen only once this one declares it (:global name).
    return m_declaredGlobals.contains(name) ? m_globals.value(name) : RosValue();
}

void ScriptInterpreter::assign(const QString &name, const RosValue &value, bool local)
{
    if (local) {
        m_scopes.last().insert(name, value);
        return;
    }
    for (int i = m_scopes.size() - 1; i >= 0; --i) {
        if (m_scopes[i].contains(name)) {
            m_scopes[i].insert(name, value);
            return;
        }
    }
    m_globals.insert(name, value);
}

RosValue ScriptInterpreter::eval(const ScriptExpr &e)
{
    switch (e.kind) {
    case ScriptExpr::Kind::Word:
        if (m_whereItem && m_whereItem->props.contains(e.text))
            return m_model.typed(m_whereMenu, e.text, m_whereItem->props.value(e.text));
        if (e.text.isEmpty())
            return RosValue::str(QString());
        return RosValue::word(e.text);
    case ScriptExpr::Kind::Text:
        return RosValue::str(e.text);
    case ScriptExpr::Kind::Quoted: {
        QString text;
        for (const ScriptExprPtr &part : e.parts)
            text += eval(*part).toString();
        return RosValue::str(text);
    }
    case ScriptExpr::Kind::Variable:
        return lookup(e.text);
    case ScriptExpr::Kind::Command: {
        if (!e.command)
            return RosValue();
        ++m_substitution;
        ModelItem *savedItem = m_whereItem;
        m_whereItem = nullptr;
        try {
            const RosValue v = exec(*e.command);
            --m_substitution;
            m_whereItem = savedItem;
            return v;
        } catch (...) {
            --m_substitution;
            m_whereItem = savedItem;
            throw;
        }
    }
    case ScriptExpr::Kind::Unary: {
        const RosValue a = eval(*e.a);
        if (e.text == QLatin1String("!"))
            return RosValue::boolean(!a.truthy());
        qint64 n = 0;
        if (!a.toNumber(&n))
            return RosValue();
        return RosValue::num(-n);
    }
    case ScriptExpr::Kind::Binary:
        return binary(e.text, eval(*e.a), eval(*e.b));
    case ScriptExpr::Kind::Block:
        return RosValue();
    case ScriptExpr::Kind::Array: {
        QList<RosValue> items;
        for (const ScriptExprPtr &part : e.parts)
            items << eval(*part);
        return RosValue::keyedArray(e.keys, items);
    }
    }
    return RosValue();
}

RosValue ScriptInterpreter::binary(const QString &op, const RosValue &a, const RosValue &b)
{
    if (op == QLatin1String(".")) {
        // A string joined to an array joins to each of its elements.
        if (a.isArray() && !b.isArray()) {
            QList<RosValue> items;
            for (const RosValue &item : a.items())
                items << RosValue::str(item.toString() + b.toString());
            return RosValue::array(items);
        }
        if (b.isArray() && !a.isArray()) {
            QList<RosValue> items;
            for (const RosValue &item : b.items())
                items << RosValue::str(a.toString() + item.toString());
            return RosValue::array(items);
        }
        return RosValue::str(a.toString() + b.toString());
    }
    if (op == QLatin1String(",")) {
        QList<RosValue> items = a.isArray() ? a.items() : QList<RosValue>{a};
        items += b.isArray() ? b.items() : QList<RosValue>{b};
        return RosValue::array(items);
    }
    if (op == QLatin1String("="))
        return RosValue::boolean(a.equals(b));
    if (op == QLatin1String("!="))
        return RosValue::boolean(!a.equals(b));
    if (op == QLatin1String("<"))
        return RosValue::boolean(a.compare(b) < 0);
    if (op == QLatin1String(">"))
        return RosValue::boolean(a.compare(b) > 0);
    if (op == QLatin1String("<="))
        return RosValue::boolean(a.compare(b) <= 0);
    if (op == QLatin1String(">="))
        return RosValue::boolean(a.compare(b) >= 0);
    if (op == QLatin1String("&&"))
        return RosValue::boolean(a.truthy() && b.truthy());
    if (op == QLatin1String("||"))
        return RosValue::boolean(a.truthy() || b.truthy());
    if (op == QLatin1String("~"))
        return RosValue::boolean(QRegularExpression(b.toString()).match(a.toString()).hasMatch());
    if (op == QLatin1String("->"))
        return a.element(b);
    if (op == QLatin1String("in")) {
        // address in prefix: whether the prefix holds it.
        quint32 ip = 0;
        quint32 net = 0;
        int bits = 32;
        const QString prefix = b.toString();
        const int slash = prefix.indexOf(QLatin1Char('/'));
        if (slash >= 0)
            bits = prefix.mid(slash + 1).toInt();
        if (!ipv4(a.toString().section(QLatin1Char('/'), 0, 0), &ip)
            || !ipv4(prefix.left(slash), &net))
            return RosValue::boolean(false);
        const quint32 mask = bits <= 0 ? 0 : ~quint32(0) << (32 - qMin(bits, 32));
        return RosValue::boolean((ip & mask) == (net & mask));
    }
    static const QStringList bitwise = {QStringLiteral("&"), QStringLiteral("|"),
                                        QStringLiteral("^"), QStringLiteral("<<"),
                                        QStringLiteral(">>")};
    if (bitwise.contains(op)) {
        // On addresses the operators work on the 32 bits (netmask arithmetic), else on numbers.
        quint32 ipA = 0;
        quint32 ipB = 0;
        const bool isIp = ipv4(a.toString(), &ipA);
        qint64 x = 0;
        qint64 y = 0;
        const bool numbers = a.toNumber(&x) && b.toNumber(&y);
        if (!isIp && !numbers)
            return RosValue();
        if (isIp && !ipv4(b.toString(), &ipB))
            ipB = quint32(b.toNumber(&y) ? y : 0);
        const quint64 l = isIp ? ipA : quint64(x);
        const quint64 r = isIp ? ipB : quint64(y);
        quint64 v = op == QLatin1String("&") ? l & r
                : op == QLatin1String("|")   ? l | r
                : op == QLatin1String("^")   ? l ^ r
                : op == QLatin1String("<<")  ? l << (r & 63)
                                             : l >> (r & 63);
        if (!isIp)
            return RosValue::num(qint64(v));
        v &= 0xFFFFFFFFu;
        return RosValue::word(QStringLiteral("%1.%2.%3.%4")
                                      .arg(v >> 24)
                                      .arg((v >> 16) & 0xFF)
                                      .arg((v >> 8) & 0xFF)
                                      .arg(v & 0xFF));
    }
    qint64 x = 0;
    qint64 y = 0;
    if (!a.toNumber(&x) || !b.toNumber(&y))
        return RosValue();
    if (op == QLatin1String("+"))
        return RosValue::num(x + y);
    if (op == QLatin1String("-"))
        return RosValue::num(x - y);
    if (op == QLatin1String("*"))
        return RosValue::num(x * y);
    if ((op == QLatin1String("/") || op == QLatin1String("%")) && y != 0)
        return RosValue::num(op == QLatin1String("/") ? x / y : x % y);
    return RosValue();
}

RosValue ScriptInterpreter::runGlobal(const ScriptStatement &st)
{
    QList<ScriptExprPtr> positional;
    QHash<QString, ScriptExprPtr> named;
    for (const ScriptArg &arg : st.args) {
        if (arg.name.isEmpty())
            positional << arg.value;
        else
            named.insert(arg.name, arg.value);
    }
    auto nameOf = [&](int i) -> QString {
        if (i >= positional.size())
            return QString();
        const ScriptExpr &e = *positional.at(i);
        if (e.kind == ScriptExpr::Kind::Word || e.kind == ScriptExpr::Kind::Variable)
            return e.text;
        return eval(e).toString();
    };
    auto valueAt = [&](int i, const char *name) { return argument(positional, named, i, name); };
    const QString &verb = st.verb;
    if (verb == QLatin1String("put")) {
        out(valueAt(0, "message").toString());
        return RosValue();
    }
    if (verb == QLatin1String("local") || verb == QLatin1String("global")
        || verb == QLatin1String("set")) {
        const ScriptExprPtr function = named.value(QStringLiteral("do"));
        const RosValue value = function && function->block ? RosValue::code(function->block)
                                                           : valueAt(1, "value");
        if (verb == QLatin1String("set") && !positional.isEmpty()
            && positional.first()->kind == ScriptExpr::Kind::Binary) {
            // :set ($a->"k"->0) v: rebuild each array on the way down to the element.
            QList<const ScriptExpr *> chain;
            const ScriptExpr *target = positional.first().get();
            while (target->kind == ScriptExpr::Kind::Binary
                   && target->text == QLatin1String("->")) {
                chain.prepend(target);
                target = target->a.get();
            }
            QList<RosValue> arrays{lookup(target->text)};
            QList<RosValue> keys;
            for (const ScriptExpr *step : chain) {
                keys << eval(*step->b);
                arrays << arrays.last().element(keys.last());
            }
            RosValue updated = value;
            for (int i = keys.size() - 1; i >= 0; --i)
                updated = arrays.at(i).withElement(keys.at(i), updated);
            assign(target->text, updated, false);
            return RosValue();
        }
        const QString name = nameOf(0);
        // :global x without a value declares x and keeps what it holds.
        const bool given = positional.size() > 1 || named.contains(QStringLiteral("value"))
                || function;
        if (verb == QLatin1String("local")) {
            assign(name, value, true);
        } else if (verb == QLatin1String("global")) {
            m_declaredGlobals.insert(name);
            m_globals.insert(name, given ? value : m_globals.value(name));
        } else {
            assign(name, value, false);
        }
        return RosValue();
    }
    if (verb == QLatin1String("do")) {
        const ScriptExprPtr body = positional.value(0, named.value(QStringLiteral("command")));
        const ScriptExprPtr onError = named.value(QStringLiteral("on-error"));
        const ScriptExprPtr whileCond = named.value(QStringLiteral("while"));
        do {
            try {
                runValueBlock(body);
            } catch (const Error &e) {
                if (!onError || !e.catchable)
                    throw;
                runValueBlock(onError);
                return RosValue();
            }
        } while (whileCond && eval(*whileCond).truthy());
        return RosValue();
    }
    if (verb == QLatin1String("onerror")) {
        const QString name = nameOf(0);
        try {
            runValueBlock(named.value(QStringLiteral("in")));
        } catch (const Error &e) {
            if (!e.catchable)
                throw;
            {
                const ScopedVariables scope(m_scopes, {{name, RosValue::str(e.message)}});
                runValueBlock(named.value(QStringLiteral("do")));
            }
            return RosValue::boolean(true);
        }
        return RosValue::boolean(false);
    }
    if (verb == QLatin1String("if")) {
        if (valueAt(0, "condition").truthy())
            runValueBlock(named.value(QStringLiteral("do")));
        else
            runValueBlock(named.value(QStringLiteral("else")));
        return RosValue();
    }
    if (verb == QLatin1String("while")) {
        int guard = 0;
        while (valueAt(0, "condition").truthy() && ++guard < 100000)
            runValueBlock(named.value(QStringLiteral("do")));
        return RosValue();
    }
    if (verb == QLatin1String("foreach")) {
        const QString counter = nameOf(0);
        const ScriptExprPtr in = named.value(QStringLiteral("in"));
        const RosValue list = in ? eval(*in) : RosValue();
        const QList<RosValue> items = list.isArray() ? list.items()
                : list.kind() == RosValue::Kind::Nothing ? QList<RosValue>()
                                                         : QList<RosValue>{list};
        // :foreach k,v in=...: k is the element's key, or its position where it has none.
        const QString keyName = counter.contains(QLatin1Char(','))
                ? counter.section(QLatin1Char(','), 0, 0)
                : QString();
        const QString valueName = counter.section(QLatin1Char(','), -1);
        for (int i = 0; i < items.size(); ++i) {
            QHash<QString, RosValue> vars{{valueName, items.at(i)}};
            if (!keyName.isEmpty()) {
                const QString key = list.keys().value(i);
                vars.insert(keyName, key.isEmpty() ? RosValue::num(i) : RosValue::str(key));
            }
            const ScopedVariables scope(m_scopes, vars);
            runValueBlock(named.value(QStringLiteral("do")));
        }
        return RosValue();
    }
    if (verb == QLatin1String("for")) {
        const QString counter = nameOf(0);
        qint64 from = 0;
        qint64 to = 0;
        qint64 step = 1;
        if (named.contains(QStringLiteral("from")))
            (void)eval(*named.value(QStringLiteral("from"))).toNumber(&from);
        if (named.contains(QStringLiteral("to")))
            (void)eval(*named.value(QStringLiteral("to"))).toNumber(&to);
        if (named.contains(QStringLiteral("step")))
            (void)eval(*named.value(QStringLiteral("step"))).toNumber(&step);
        if (step == 0)
            step = 1;
        for (qint64 i = from; step > 0 ? i <= to : i >= to; i += step) {
            const ScopedVariables scope(m_scopes, {{counter, RosValue::num(i)}});
            runValueBlock(named.value(QStringLiteral("do")));
        }
        return RosValue();
    }
    if (verb == QLatin1String("len")) {
        const RosValue v = valueAt(0, "value");
        return RosValue::num(v.isArray() ? v.items().size() : v.toString().size());
    }
    if (verb == QLatin1String("error"))
        raise(valueAt(0, "message").toString());
    if (verb == QLatin1String("typeof"))
        return RosValue::str(valueAt(0, "value").typeName());
    if (verb == QLatin1String("tostr"))
        return RosValue::str(valueAt(0, "value").toString());
    if (verb == QLatin1String("toarray")) {
        const RosValue v = valueAt(0, "value");
        if (v.isArray())
            return v;
        QList<RosValue> items;
        for (const QString &part : v.toString().split(QLatin1Char(','), Qt::SkipEmptyParts))
            items << RosValue::word(part);
        return RosValue::array(items);
    }
    if (verb == QLatin1String("pick")) {
        const RosValue v = valueAt(0, "counter");
        qint64 begin = 0;
        qint64 end = -1;
        (void)valueAt(1, "begin").toNumber(&begin);
        const bool hasEnd = valueAt(2, "end").toNumber(&end);
        if (v.isArray()) {
            const qint64 last = hasEnd ? qMin<qint64>(end, v.items().size()) : begin + 1;
            if (!hasEnd)
                return begin < v.items().size() ? v.items().at(int(begin)) : RosValue();
            return RosValue::array(v.items().mid(int(begin), int(qMax<qint64>(0, last - begin))));
        }
        const QString s = v.toString();
        const qint64 last = hasEnd ? qMin<qint64>(end, s.size()) : begin + 1;
        return RosValue::str(s.mid(int(begin), int(qMax<qint64>(0, last - begin))));
    }
    if (verb == QLatin1String("return"))
        throw Return{valueAt(0, "value")};
    return runLibraryCommand(verb, positional, named);
}

RosValue ScriptInterpreter::argument(const QList<ScriptExprPtr> &positional,
                                     const QHash<QString, ScriptExprPtr> &named, int i,
                                     const char *name)
{
    // A global command's value by position or, where not given so, by its name.
    if (i < positional.size())
        return eval(*positional.at(i));
    if (const ScriptExprPtr e = named.value(QLatin1String(name)))
        return eval(*e);
    return RosValue();
}

RosValue ScriptInterpreter::runLibraryCommand(const QString &verb,
                                              const QList<ScriptExprPtr> &positional,
                                              const QHash<QString, ScriptExprPtr> &named)
{
    auto valueAt = [&](int i, const char *name) { return argument(positional, named, i, name); };
    static const QStringList conversions = {
            QStringLiteral("tonum"), QStringLiteral("tobool"), QStringLiteral("toip"),
            QStringLiteral("toip6"), QStringLiteral("totime"), QStringLiteral("toid")};
    if (conversions.contains(verb)) {
        // A conversion gives nothing where the text is no value of that kind.
        const RosValue v = valueAt(0, "value");
        const RosValue w = v.kind() == RosValue::Kind::Str ? RosValue::word(v.toString()) : v;
        if (verb == QLatin1String("tobool") && w.kind() == RosValue::Kind::Num)
            return RosValue::boolean(w.number() != 0);
        if (verb == QLatin1String("totime") && w.kind() == RosValue::Kind::Num)
            return RosValue::word(QStringLiteral("%1s").arg(w.number()));
        // :tonum gives a num, :toip an ip ...: the command names the kind after "to".
        return w.typeName() == verb.mid(2) ? w : RosValue();
    }
    if (verb == QLatin1String("find")) {
        // :find in key from: the position of key after from in a string or an array, or nothing.
        const RosValue in = valueAt(0, "in");
        const RosValue key = valueAt(1, "key");
        qint64 from = -1;
        (void)valueAt(2, "from").toNumber(&from);
        if (in.isArray()) {
            for (int i = int(qMax<qint64>(0, from + 1)); i < in.items().size(); ++i)
                if (in.items().at(i).equals(key))
                    return RosValue::num(i);
            return RosValue();
        }
        const int at = in.toString().indexOf(key.toString(), int(qMax<qint64>(0, from + 1)));
        return at < 0 ? RosValue() : RosValue::num(at);
    }
    if (verb == QLatin1String("range")) {
        qint64 from = 0;
        qint64 to = 0;
        qint64 step = 1;
        (void)valueAt(0, "from").toNumber(&from);
        (void)valueAt(1, "to").toNumber(&to);
        if (valueAt(2, "step").toNumber(&step) && step == 0)
            step = 1;
        QList<RosValue> items;
        for (qint64 i = from; (step > 0 ? i <= to : i >= to) && items.size() < 100000; i += step)
            items << RosValue::num(i);
        return RosValue::array(items);
    }
    if (verb == QLatin1String("retry")) {
        const ScriptExprPtr body = positional.value(0, named.value(QStringLiteral("command")));
        qint64 attempts = 1;
        if (const ScriptExprPtr max = named.value(QStringLiteral("max")))
            (void)eval(*max).toNumber(&attempts);
        for (qint64 i = 1;; ++i) {
            try {
                runValueBlock(body);
                return RosValue();
            } catch (const Error &e) {
                if (i < attempts && e.catchable)
                    continue;
                const ScriptExprPtr onError = named.value(QStringLiteral("on-error"));
                if (!onError || !e.catchable)
                    throw;
                runValueBlock(onError);
                return RosValue();
            }
        }
    }
    // The others (:log, :beep, :execute, :parse ...) act outside what this router models.
    return RosValue();
}

namespace {

// An item list as a command gets it: ids from a find, or one reference (name, number, *id).
QStringList referenceList(const RosValue &ref)
{
    QStringList refs;
    if (ref.isArray()) {
        for (const RosValue &item : ref.items())
            refs << item.toString();
    } else if (ref.kind() != RosValue::Kind::Nothing) {
        refs << ref.toString();
    }
    return refs;
}

} // namespace

QList<ModelItem *> ScriptInterpreter::targets(const QString &menu, const RosValue &ref)
{
    QList<ModelItem *> out;
    QString error;
    if (!m_model.resolve(menu, referenceList(ref), &out, &error))
        raise(error);
    return out;
}

QList<ModelItem *> ScriptInterpreter::exportTargets(const ScriptStatement &st, const RosValue &ref)
{
    QList<ModelItem *> out;
    if (m_model.resolve(st.menu, referenceList(ref), &out, nullptr) && !out.isEmpty())
        return out;
    // A built-in item of hardware or packages this router does not have (`set *0`, `set 0`,
    // `set [ find default=yes ]`): kept as the export wrote it so that /export prints it back.
    QString raw;
    for (const ScriptArg &arg : st.args)
        if (arg.name.isEmpty() && raw.isEmpty())
            raw = arg.raw;
    if (raw.isEmpty())
        raw = ref.toString();
    return {m_model.opaqueItem(st.menu, raw)};
}

QList<ModelItem *> ScriptInterpreter::filtered(const QString &menu,
                                               const QList<QPair<QString, QString>> &filters,
                                               const ScriptExprPtr &where,
                                               const QStringList &flags)
{
    QList<ModelItem *> out;
    const QList<QPair<QString, QString>> patterns = m_patterns; // a where clause may run commands
    for (ModelItem *item : m_model.items(menu)) {
        bool match = true;
        for (const auto &f : filters) {
            const QString have = item->props.value(f.first);
            if (ConfigModel::isBooleanProperty(f.first))
                match = match && isYes(have) == isYes(f.second);
            else
                match = match && have == f.second;
        }
        for (const QString &flag : flags)
            if (ConfigModel::isBooleanProperty(flag))
                match = match && isYes(item->props.value(flag));
        for (const auto &p : patterns)
            match = match
                    && QRegularExpression(p.second).match(item->props.value(p.first)).hasMatch();
        if (match && where) {
            ModelItem *saved = m_whereItem;
            const QString savedMenu = m_whereMenu;
            m_whereItem = item;
            m_whereMenu = item->menu;
            const bool ok = eval(*where).truthy();
            m_whereItem = saved;
            m_whereMenu = savedMenu;
            match = ok;
        }
        if (match)
            out << item;
    }
    return out;
}

RosValue ScriptInterpreter::runCommand(const ScriptStatement &st)
{
    if (!st.badParameter.isEmpty())
        raise(kBadParameter.arg(st.badParameter, at(st.badPos)));
    QList<QPair<QString, QString>> named;
    QList<RosValue> positional;
    QStringList flags;
    QStringList canonical;
    QList<QPair<QString, QString>> patterns;
    for (const ScriptArg &arg : st.args) {
        if (arg.name.isEmpty()) {
            const RosValue v = eval(*arg.value);
            positional << v;
            canonical << valueText(v);
        } else if (!arg.value) {
            flags << arg.name;
            canonical << arg.name;
        } else if (arg.regex) {
            const QString v = valueText(eval(*arg.value));
            patterns << qMakePair(arg.name, v);
            canonical << arg.name + QLatin1Char('~') + v;
        } else {
            const QString v = valueText(eval(*arg.value));
            named << qMakePair(arg.name, v);
            canonical << arg.name + QLatin1Char('=') + v;
        }
    }
    // The root menu (/export) has no path of its own: its line is "/export", not "//export".
    const QString path = st.menu.isEmpty() ? QString() : QLatin1Char('/') + st.menu;
    const QString line = (st.verb.isEmpty() ? path : path + QLatin1Char('/') + st.verb)
            + (canonical.isEmpty() ? QString() : QLatin1Char(' ') + canonical.join(QLatin1Char(' ')));

    QJsonObject entry;
    entry.insert(QStringLiteral("path"), path);
    entry.insert(QStringLiteral("verb"), st.verb);
    QJsonObject arguments;
    for (const auto &n : named)
        arguments.insert(n.first, n.second);
    for (const QString &f : flags)
        arguments.insert(f, true);
    for (int i = 0; i < positional.size(); ++i)
        arguments.insert(i == 0 ? QStringLiteral("numbers")
                                : (i == 1 ? QStringLiteral("value-name") : QStringLiteral("_%1").arg(i)),
                         valueText(positional.at(i)));
    entry.insert(QStringLiteral("arguments"), arguments);

    bool dropAfter = false;
    for (ScenarioFault &fault : m_scenario.faults) {
        if (!fault.pattern.match(line).hasMatch())
            continue;
        if (fault.times > 0 && fault.fired >= fault.times)
            continue;
        ++fault.fired;
        m_result.delayMs += fault.delayMs;
        if (fault.hang) {
            entry.insert(QStringLiteral("outcome"), QStringLiteral("hang"));
            m_result.log.append(entry);
            m_result.hang = true;
            throw Stop{};
        }
        if (!fault.error.isEmpty()) {
            entry.insert(QStringLiteral("outcome"), fault.error);
            m_result.log.append(entry);
            raise(fault.error);
        }
        dropAfter = dropAfter || fault.drop;
    }

    const bool hadSession = !m_scenario.sessionAddress.isEmpty()
            && m_model.hasAddress(m_scenario.sessionAddress);
    RosValue result;
    try {
        m_patterns = patterns;
        result = dispatch(st, named, positional, flags);
    } catch (const Error &e) {
        entry.insert(QStringLiteral("outcome"), e.message);
        m_result.log.append(entry);
        throw;
    }
    entry.insert(QStringLiteral("outcome"), QStringLiteral("ok"));
    m_result.log.append(entry);
    if (dropAfter) {
        m_result.drop = true;
        throw Stop{};
    }
    if (hadSession && !m_model.hasAddress(m_scenario.sessionAddress)
        && m_scenario.onSessionAddressRemoved != QLatin1String("ignore")) {
        m_result.drop = true;
        if (m_scenario.onSessionAddressRemoved == QLatin1String("stop"))
            throw Stop{};
        if (m_cutoff < 0)
            m_cutoff = m_result.lines.size();
    }
    return result;
}

RosValue ScriptInterpreter::dispatch(const ScriptStatement &st,
                                     const QList<QPair<QString, QString>> &named,
                                     const QList<RosValue> &positional, const QStringList &flags)
{
    const QString &menu = st.menu;
    const QString &verb = st.verb;
    QString error;
    m_model.refresh();
    if (verb.isEmpty()) {
        if (menu == QLatin1String("ping") || menu == QLatin1String("tool/ping"))
            return ping(named, positional);
        if (menu == QLatin1String("tool/fetch"))
            return fetch(named, flags);
        return RosValue();
    }
    const bool settingsMenu = ConfigModel::isSettingsMenu(menu);
    if (verb == QLatin1String("add")) {
        QString id;
        if (!m_model.add(menu, named, &id, &error))
            raise(error);
        return RosValue::id(id);
    }
    if (verb == QLatin1String("set") || verb == QLatin1String("enable")
        || verb == QLatin1String("disable") || verb == QLatin1String("comment")
        || verb == QLatin1String("unset")) {
        QList<ModelItem *> items;
        if (settingsMenu) {
            items << m_model.settings(menu);
        } else {
            RosValue ref = positional.value(0);
            for (const auto &n : named)
                if (n.first == QLatin1String("numbers"))
                    ref = RosValue::str(n.second);
            // Menus the command tree does not describe come from exports: there a bare set
            // is the menu's settings.
            if (ref.kind() == RosValue::Kind::Nothing && m_schema.acceptsAnyArgument(menu))
                items << m_model.settings(menu);
            else if (ref.kind() == RosValue::Kind::Nothing)
                raise(kMissingNumbers);
            else if (m_model.exportMode())
                items = exportTargets(st, ref);
            else
                items = targets(menu, ref);
        }
        QList<QPair<QString, QString>> changes;
        for (const auto &n : named)
            if (n.first != QLatin1String("numbers") && n.first != QLatin1String("value-name"))
                changes << n;
        if (verb == QLatin1String("enable"))
            changes = {qMakePair(QStringLiteral("disabled"), QStringLiteral("no"))};
        if (verb == QLatin1String("disable"))
            changes = {qMakePair(QStringLiteral("disabled"), QStringLiteral("yes"))};
        if (verb == QLatin1String("unset")) {
            QString prop = positional.value(1).toString();
            for (const auto &n : named)
                if (n.first == QLatin1String("value-name"))
                    prop = n.second;
            for (ModelItem *item : items) {
                item->given.removeAll(prop);
                item->props.insert(prop, QString());
            }
            return RosValue();
        }
        if (!m_model.set(menu, items, changes, &error))
            raise(error);
        return RosValue();
    }
    if (verb == QLatin1String("remove")) {
        const RosValue ref = positional.value(0);
        if (ref.kind() == RosValue::Kind::Nothing)
            raise(kMissingNumbers);
        const QList<ModelItem *> items = targets(menu, ref);
        if (!m_model.remove(menu, items, &error))
            raise(error);
        return RosValue();
    }
    if (verb == QLatin1String("get")) {
        ModelItem *item = nullptr;
        QString prop;
        if (settingsMenu) {
            item = m_model.settings(menu);
            prop = positional.value(0).toString();
        } else {
            const QList<ModelItem *> items = targets(menu, positional.value(0));
            if (items.isEmpty())
                raise(kNoSuchItem);
            if (items.size() > 1)
                raise(kSeveralItems);
            item = items.first();
            prop = positional.value(1).toString();
        }
        for (const auto &n : named)
            if (n.first == QLatin1String("value-name"))
                prop = n.second;
        if (prop.isEmpty()) {
            QList<RosValue> all;
            for (auto it = item->props.begin(); it != item->props.end(); ++it)
                if (it.key() != QLatin1String("password"))
                    all << RosValue::str(it.key() + QLatin1Char('=') + it.value());
            return RosValue::array(all);
        }
        RosValue value;
        if (!m_model.get(item->menu, item, prop, &value, &error)) {
            const bool settable = prop != QLatin1String("password")
                    && (m_schema.acceptsArgument(item->menu, QStringLiteral("set"), prop)
                        || m_schema.acceptsArgument(item->menu, QStringLiteral("add"), prop));
            if (settable)
                return m_model.typed(item->menu, prop, QString());
            // A property the menu knows but the item does not hold right now (last-handshake
            // before the first handshake) fails as the item's; a name the menu has no property
            // of fails as a value outside the property list.
            if (prop == QLatin1String("password") || m_schema.acceptsAnyArgument(item->menu)
                || ConfigModel::isKnownReadOnly(item->menu, prop))
                raise(error);
            raise(kNoProperty);
        }
        return value;
    }
    if (verb == QLatin1String("find") || verb == QLatin1String("print")) {
        const QList<ModelItem *> items = filtered(menu, named, st.where, flags);
        if (verb == QLatin1String("find")) {
            QList<RosValue> ids;
            for (ModelItem *item : items)
                ids << RosValue::id(item->id);
            return RosValue::array(ids);
        }
        if (flags.contains(QStringLiteral("count-only"))) {
            if (m_substitution == 0)
                out(QString::number(items.size()));
            return RosValue::num(items.size());
        }
        if (settingsMenu) {
            ModelItem *item = m_model.settings(menu);
            for (auto it = item->props.begin(); it != item->props.end(); ++it)
                if (it.key() != QLatin1String("password") && it.key() != QLatin1String("private-key"))
                    out(QStringLiteral("%1: %2").arg(it.key().rightJustified(20), it.value()));
            return RosValue();
        }
        int n = 0;
        for (ModelItem *item : items) {
            QStringList parts;
            for (auto it = item->props.begin(); it != item->props.end(); ++it)
                if (it.key() != QLatin1String("password") && it.key() != QLatin1String("private-key")
                    && !it.value().isEmpty())
                    parts << it.key() + QLatin1Char('=') + it.value();
            out(QStringLiteral("%1 %2 %3")
                        .arg(n++, 2)
                        .arg(item->dynamic ? QStringLiteral("D") : QStringLiteral(" "),
                             parts.join(QLatin1Char(' '))));
        }
        return RosValue();
    }
    if (verb == QLatin1String("export")) {
        for (const QString &l : m_model.exportText(menu).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            out(l);
        return RosValue();
    }
    return RosValue();
}

RosValue ScriptInterpreter::ping(const QList<QPair<QString, QString>> &named,
                                 const QList<RosValue> &positional)
{
    QString address = positional.value(0).toString();
    qint64 count = -1;
    for (const auto &n : named) {
        if (n.first == QLatin1String("address"))
            address = n.second;
        if (n.first == QLatin1String("count"))
            count = n.second.toLongLong();
    }
    if (count < 0) {
        // Without a count the console pings until it is interrupted; an exec never ends.
        m_result.hang = true;
        throw Stop{};
    }
    const bool local = m_model.hasAddress(address) || address.startsWith(QLatin1String("127."));
    const bool reachable = local || (m_scenario.internet && m_model.hasActiveDefaultRoute());
    const qint64 replies = reachable ? count : 0;
    if (m_substitution == 0) {
        out(QStringLiteral("  SEQ HOST                                     SIZE TTL TIME       STATUS"));
        for (qint64 i = 0; i < count; ++i) {
            if (reachable)
                out(QStringLiteral("%1 %2 56  57 12ms432us")
                            .arg(i, 5)
                            .arg(address, -40));
            else
                out(QStringLiteral("%1 %2                         timeout").arg(i, 5).arg(address, -40));
        }
        out(QStringLiteral("    sent=%1 received=%2 packet-loss=%3%")
                    .arg(count)
                    .arg(replies)
                    .arg(count == 0 ? 0 : (count - replies) * 100 / count));
    }
    return RosValue::num(replies);
}

RosValue ScriptInterpreter::fetch(const QList<QPair<QString, QString>> &named,
                                  const QStringList &flags)
{
    QString url;
    QString dstPath;
    QString output = QStringLiteral("file");
    for (const auto &n : named) {
        if (n.first == QLatin1String("url"))
            url = n.second;
        if (n.first == QLatin1String("dst-path"))
            dstPath = n.second;
        if (n.first == QLatin1String("output"))
            output = n.second;
        if (n.first == QLatin1String("keep-result") && !isYes(n.second))
            output = QStringLiteral("none");
    }
    const bool https = url.startsWith(QLatin1String("https://"));
    const bool reachable = (https ? m_scenario.serviceHttps : m_scenario.internet)
            && m_model.hasActiveDefaultRoute();
    const bool asValue = flags.contains(QStringLiteral("as-value"));
    if (!reachable) {
        if (m_substitution == 0 && !asValue)
            out(QStringLiteral("      status: failed"));
        raise(kFetchFailed);
    }
    if (output == QLatin1String("file")) {
        QString path = dstPath;
        if (path.isEmpty())
            path = url.section(QLatin1Char('/'), -1);
        m_model.recordFile(path, url);
    }
    if (asValue) {
        return RosValue::array({RosValue::str(QStringLiteral("status=finished")),
                                RosValue::str(QStringLiteral("downloaded=1")),
                                RosValue::str(QStringLiteral("total=1")),
                                RosValue::str(QStringLiteral("duration=1s"))});
    }
    if (m_substitution == 0) {
        out(QStringLiteral("      status: finished"));
        out(QStringLiteral("  downloaded: 1KiB"));
        out(QStringLiteral("       total: 1KiB"));
        out(QStringLiteral("    duration: 1s"));
    }
    return RosValue();
}
