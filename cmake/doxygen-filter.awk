# Doxygen input filter: the public headers keep their contracts in plain // and /* */
# comments, written for people reading the source. This turns them into documentation
# comments as Doxygen reads the files, so the headers need no markup of their own:
#   - the comment that opens a file becomes the file's description (\file);
#   - a comment on lines of its own documents the declaration after it;
#   - a comment after code on the same line documents that code (///<, /**<);
#   - "---- Section ----" rulers stay plain comments.
# Characters Doxygen would read as commands or HTML are escaped in comment text.

function escape(text) {
  gsub(/\\/, "\\\\", text)
  gsub(/</, "\\<", text)
  gsub(/>/, "\\>", text)
  gsub(/@/, "\\@", text)
  gsub(/#/, "\\#", text)
  gsub(/&/, "\\&", text)
  gsub(/%/, "\\%", text)
  gsub(/\$/, "\\$", text)
  return text
}

function quotes(text,    copy) {
  copy = text
  return gsub(/"/, "", copy)
}

BEGIN { opening = 1; in_block = 0 }

# Inside a /* */ comment that started on an earlier line. A numbered list keeps its markers
# at one indentation (" 9." and "10." right-aligned is not a list to Doxygen). The file's
# opening comment gets its \file at the end, so every line keeps its number.
in_block {
  line = $0
  if (line ~ /^ \*  [0-9]\. /) line = " * " substr(line, 5)
  if (index(line, "*/")) {
    body = substr(line, 1, index(line, "*/") - 1)
    print escape(body) (in_block == 2 ? " \\file " : "") "*/"
    in_block = 0
  } else {
    print escape(line)
  }
  next
}

# The opening // comment of a file.
opening && /^\/\// {
  if (opening == 1) { print "/** \\file"; opening = 2 }
  line = $0
  sub(/^\/\/ ?/, "", line)
  print " * " escape(line)
  next
}
opening == 2 { print " */"; opening = 0 }

# The opening /* */ comment of a file.
opening == 1 && /^\/\*/ {
  opening = 0
  line = $0
  sub(/^\/\*/, "", line)
  if (index(line, "*/")) {
    print "/**" escape(substr(line, 1, index(line, "*/") - 1)) " \\file */"
  } else {
    print "/**" escape(line)
    in_block = 2
  }
  next
}
opening == 1 && !/^[ \t]*$/ { opening = 0 }

# Rulers between groups of declarations.
/^[ \t]*(\/\/|\/\*) ?-+/ { print; next }

# A // comment on lines of its own.
/^[ \t]*\/\// {
  match($0, /^[ \t]*\/\/ ?/)
  print substr($0, 1, RLENGTH - (substr($0, RLENGTH, 1) == " " ? 3 : 2)) "/// " escape(substr($0, RLENGTH + 1))
  next
}

# A /* comment on lines of its own.
/^[ \t]*\/\*/ {
  match($0, /^[ \t]*\/\*/)
  lead = substr($0, 1, RLENGTH - 2)
  rest = substr($0, RLENGTH + 1)
  if (index(rest, "*/")) {
    print lead "/**" escape(substr(rest, 1, index(rest, "*/") - 1)) "*/"
  } else {
    print lead "/**" escape(rest)
    in_block = 1
  }
  next
}

# A comment after code: only when no string literal is open where it starts.
{
  at = index($0, "//")
  if (at > 1 && quotes(substr($0, 1, at - 1)) % 2 == 0) {
    print substr($0, 1, at - 1) "///< " escape(substr($0, at + 2))
    next
  }
  at = index($0, "/*")
  if (at > 1 && index($0, "*/") > at && quotes(substr($0, 1, at - 1)) % 2 == 0) {
    close_at = index($0, "*/")
    print substr($0, 1, at - 1) "/**< " escape(substr($0, at + 2, close_at - at - 2)) "*/" substr($0, close_at + 2)
    next
  }
  print
}
