#pragma once

#include <QList>
#include <QString>

#include <memory>

// The parsed form of a console script. The parser resolves every path against the command tree,
// so a statement already knows its menu and command when it runs.
struct ScriptPos
{
    int line = 1;
    int column = 1;
};

struct ScriptStatement;
struct ScriptBlock;
using ScriptStatementPtr = std::shared_ptr<ScriptStatement>;
using ScriptBlockPtr = std::shared_ptr<ScriptBlock>;

struct ScriptExpr;
using ScriptExprPtr = std::shared_ptr<ScriptExpr>;

struct ScriptExpr
{
    enum class Kind {
        Word,      // a bare word: number, yes/no, text, or a property name inside `where`
        Text,      // a literal piece of a quoted string
        Quoted,    // a quoted string: its parts are concatenated
        Variable,  // $name
        Command,   // [ ... ]
        Unary,     // op a
        Binary,    // a op b
        Block,     // { ... } given as code (do=, on-error=, else=)
        Array,     // {"a";"b"} or {k=v}: parts are the elements, keys their names
    };
    Kind kind = Kind::Word;
    QString text;
    QList<ScriptExprPtr> parts;
    QStringList keys;
    ScriptExprPtr a;
    ScriptExprPtr b;
    ScriptStatementPtr command;
    ScriptBlockPtr block;
    ScriptPos pos;
};

struct ScriptArg
{
    QString name;        // empty for a positional value
    ScriptExprPtr value; // null for a flag such as count-only
    QString raw;         // the value as written (an export's item reference is printed back)
    bool regex = false;  // name~value in find and print: the value is a regular expression
    ScriptPos pos;
    ScriptPos equalsPos;
};

struct ScriptStatement
{
    enum class Kind {
        ChangeMenu,  // a line holding only a path
        MenuBlock,   // a path followed by { ... }
        Block,       // { ... }: a local scope
        Command,     // a menu command, or a menu that is itself a command (verb empty)
        Global,      // :put, :local, :if ...
        BadCommand,  // a word that is no command here; raised when reached
        Call,        // $function arg name=value: runs the code a variable holds
    };
    Kind kind = Kind::Command;
    QString menu;
    QString verb;
    QList<ScriptArg> args;
    ScriptExprPtr where;
    ScriptBlockPtr block;
    QString badWord;
    QString badParameter; // an unknown argument name that fails when reached (7.23 and later)
    ScriptPos pos;
    ScriptPos badPos;
};

struct ScriptBlock
{
    QList<ScriptStatementPtr> statements;
};
