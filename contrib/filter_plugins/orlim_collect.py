# Filters for orlim-collect.yml, which Ansible loads from the folder
# filter_plugins beside the playbook: what each host's answers come to (a
# token, or why there is none), worded and escaped as orlim-collect's ssh
# form does it, so that both forms say the same about the same host.
#
# Everything here reads what hosts said: it is taken as bytes, escaped
# before it can reach a terminal or a file, and handed back marked unsafe,
# so that Ansible never templates it.
import re

from ansible.utils.unsafe_proxy import wrap_var

TOKEN = re.compile(r'[0-9A-Fa-f]{58}')
REASON_CAP = 200  # bytes of REASON in a "HOST !KIND REASON" line
REPORT_CAP = 300  # bytes of what a host said in a failure message


def orlim_escape(text, cap=REPORT_CAP):
    """What a host said, safe for a terminal: every byte outside printable
    ASCII as \\xNN, a backslash as \\\\, line ends as " | " between lines,
    at most CAP bytes, cut between escapes with "..." where it was cut."""
    if text is None:
        return ''
    data = str(text).encode('utf-8', 'surrogateescape')[:4096]
    out, fits, pending = '', 0, False
    for byte in data:
        if byte == 10:
            pending = pending or out != ''
            continue
        if byte == 13:
            continue
        if byte == 92:
            piece = '\\\\'
        elif 32 <= byte < 127:
            piece = chr(byte)
        else:
            piece = '\\x%02X' % byte
        if pending:
            piece, pending = ' | ' + piece, False
        if len(out) + len(piece) <= cap - 3:
            fits = len(out) + len(piece)
        out += piece
    if len(out) > cap:
        out = out[:fits] + '...'
    return out


def _tokens(result):
    """The lines of a run's standard output that are exactly a token, a \\r
    at their end aside."""
    lines = str(result.get('stdout') or '').split('\n')
    return [line for line in (l[:-1] if l.endswith('\r') else l for l in lines)
            if TOKEN.fullmatch(line)]


def _said(result, cap):
    return orlim_escape(str(result.get('stdout') or '') + '\n' + str(result.get('stderr') or ''), cap)


def _timed_out(result):
    # timeout's status on the host, or Ansible's own task timeout (no status).
    return result.get('rc') == 124 or ('rc' not in result and 'time frame' in str(result.get('msg', '')))


def _ask_again(first):
    """Whether orlim runs again with -v on a host: it was reached, in time,
    and gave no token."""
    first = first or {}
    if first.get('unreachable') or _timed_out(first) or 'rc' not in first:
        return False
    return not (first.get('rc') == 0 and len(_tokens(first)) == 1)


def orlim_ask_again(asked, hostvars):
    """The hosts of ASKED where orlim runs again with -v."""
    return [host for host in asked if _ask_again(hostvars[host].get('orlim_first'))]


def _outcome(host, first, again, command, seconds):
    first = first or {}
    ask = orlim_escape(command)
    if first.get('unreachable'):
        reason = orlim_escape(first.get('msg'), REASON_CAP)
        return dict(kind='unreachable', reason=reason, report=orlim_escape(first.get('msg')))
    if _timed_out(first):
        why = "no answer to '%s -u' within the deadline of %s s" % (ask, seconds)
        return dict(kind='unreachable', reason=why, report=why)
    if 'rc' not in first:  # become or the connection failed it before orlim ran
        return dict(kind='no-token', reason=orlim_escape(first.get('msg'), REASON_CAP),
                    report="'%s -u' did not run: %s" % (ask, orlim_escape(first.get('msg'))))
    tokens = _tokens(first)
    if first['rc'] == 0 and len(tokens) == 1:
        return dict(token=tokens[0])
    if first['rc'] != 0:
        report = "'%s -u' exited with status %s" % (ask, first['rc'])
    elif not tokens:
        report = "no token line in the answer to '%s -u'" % ask
    else:
        report = "%d token lines in the answer to '%s -u'" % (len(tokens), ask)
    again = again or {}
    if again.get('unreachable'):
        return dict(kind='unreachable', reason=orlim_escape(again.get('msg'), REASON_CAP),
                    report='%s; then %s' % (report, orlim_escape(again.get('msg'))))
    if _timed_out(again):
        why = "no answer to '%s -u -v' within the deadline of %s s" % (ask, seconds)
        return dict(kind='unreachable', reason=why, report='%s; %s' % (report, why))
    tokens = _tokens(again)
    if again.get('rc') == 0 and len(tokens) == 1:
        return dict(token=tokens[0])  # it came on the second try
    return dict(kind='no-token', reason=_said(again, REASON_CAP),
                report="%s; '%s -u -v' (status %s) said: %s"
                       % (report, ask, again.get('rc', 'none'), _said(again, REPORT_CAP)))


def orlim_outcomes(asked, hostvars):
    """One record per host asked, in order: host, line (its line in the
    output) and, where it gave no token, report (the failure message)."""
    records = []
    for host in asked:
        facts = hostvars[host]
        outcome = _outcome(host, facts.get('orlim_first'), facts.get('orlim_again'),
                           str(facts.get('orlim_command') or 'orlim'),
                           str(facts.get('orlim_timeout') or 60))
        if 'token' in outcome:
            line = '%s %s' % (host, outcome['token'])
        else:
            line = '%s !%s%s' % (host, outcome['kind'],
                                 ' ' + outcome['reason'] if outcome['reason'] else '')
            outcome['report'] = 'no token: ' + outcome['report']
        records.append(dict(host=host, line=line, report=outcome.get('report')))
    return wrap_var(records)


class FilterModule(object):
    def filters(self):
        return {
            'orlim_ask_again': orlim_ask_again,
            'orlim_outcomes': orlim_outcomes,
        }
