<?php
// zoqc --serve: the router of PHP's development server. It answers only requests for this
// machine's own addresses, refuses the pages' sources and their copies, dot files and anything
// outside the document root, answers the reload script's polls (where zoqc's own listener
// cannot be reached), shows the error page of a page whose latest translation failed, and runs
// the other pages with their translation warnings and PHP errors shown over them, each with the
// script and template places behind its page line. It adds the reload script to the pages it
// sends; the pages on disk never hold it.
//
// zoqc sets ZOQC_SERVE_DIR (its private folder: state.json, generation), ZOQC_SERVE_HOST (the
// host it listens on), ZOQC_SERVE_HOSTS (the hosts that name this machine, as its own reload
// listener takes them), ZOQC_RELOAD_PORT (where its reload listener waits, on the same host;
// empty without one), ZOQC_BINARY, ZOQC_CWD and ZOQC_EXPLAIN_ARGS (a JSON array: how
// --explain finds the sources). A line the router writes to standard error starting with
// "zoqc-router: " is said by zoqc on its terminal, once.

final class ZoqcServe
{
    const POLL = '/__zoqc__/poll';
    const EVENTS = '/__zoqc__/events'; // on zoqc's own reload listener
    const SHOWN = 50; // warnings kept to show: a loop may warn a million times
    const FATAL = E_ERROR | E_PARSE | E_CORE_ERROR | E_COMPILE_ERROR;
    const KINDS = [E_WARNING => 'Warning', E_NOTICE => 'Notice', E_DEPRECATED => 'Deprecated',
        E_USER_WARNING => 'Warning', E_USER_NOTICE => 'Notice', E_USER_DEPRECATED => 'Deprecated',
        E_USER_ERROR => 'Fatal error', E_ERROR => 'Fatal error', E_PARSE => 'Parse error',
        E_CORE_ERROR => 'Fatal error', E_COMPILE_ERROR => 'Fatal error',
        E_RECOVERABLE_ERROR => 'Recoverable fatal error'];

    public static $root = '';      // the document root, resolved
    public static $key = '';       // the page asked for, under the root: "blog/index.php"
    public static $version = 0;    // its translation the browser shows
    public static $generation = 0; // the state's generation then
    public static $level = 0;      // output buffers open before the page's own
    public static $errors = [];    // [kind, message, file, line], in order
    public static $exception = null;
    public static $count = 0;      // the warnings and notices, also those not kept
    public static $warnings = '';  // the panel of the page's translation warnings, if any

    public static function esc($text)
    {
        return htmlspecialchars((string) $text, ENT_QUOTES | ENT_SUBSTITUTE | ENT_HTML5, 'UTF-8');
    }

    public static function state()
    {
        $text = @file_get_contents(getenv('ZOQC_SERVE_DIR') . '/state.json');
        $state = $text === false ? null : json_decode($text, true);
        return is_array($state) ? $state : ['generation' => 0, 'pages' => []];
    }

    public static function refuse($code, $why)
    {
        http_response_code($code);
        header('Content-Type: text/html; charset=utf-8');
        echo "<!DOCTYPE html>\n<meta charset=\"utf-8\"><title>$code</title><p>" . self::esc($why) . "</p>\n";
        return true;
    }

    // True when AHost (a Host header: a name or address, then maybe ":PORT") names this
    // machine: is one of zoqc's list, names and addresses with the bits of their prefix that
    // count ("127.0.0.0/8").
    public static function ownHost($host)
    {
        if (!preg_match('/^(\[[0-9a-f:.]+\]|[a-z0-9._-]+)(:[0-9]{1,5})?$/', strtolower($host), $m)) {
            return false;
        }
        $name = $m[1];
        $address = @inet_pton(trim($name, '[]')); // IPv6 in brackets, IPv4 without, as zoqc reads them
        $address = $address !== false && ($name[0] === '[') === (strlen($address) === 16) ? $address : false;
        foreach (explode(' ', (string) getenv('ZOQC_SERVE_HOSTS')) as $own) {
            [$prefix, $bits] = explode('/', $own) + [1 => null];
            $net = $bits === null ? false : inet_pton(trim($prefix, '[]'));
            if ($bits === null ? rtrim($name, '.') === $own : $address !== false
                && strlen($address) === strlen($net) && strncmp($address, $net, $bits >> 3) === 0) {
                return true;
            }
        }
        return false;
    }

    // Why the name ASegment of a path is not served, or null when it may be.
    public static function hidden($segment)
    {
        if ($segment === '..') {
            return 'Nothing above the folder of the site is served.';
        }
        if ($segment !== '' && $segment[0] === '.' && $segment !== '.') {
            return 'Dot files and dot folders (.env, .git) are not served.';
        }
        if (preg_match('/\.zo[qt](?![a-z0-9_])/i', $segment)) {
            return 'The sources of the pages (.zoq, .zot) and their copies are not served.';
        }
        if (preg_match('/(~|\.sw[a-p]|\.bak|\.orig)$|^#.*#$/i', $segment)) {
            return 'Backups and copies editors leave (~, #...#, .swp, .bak, .orig) are not served.';
        }
        return null;
    }

    // True when the request is answered here, false for PHP's server to serve it as it would,
    // or the path of a page to run.
    public static function route()
    {
        $host = $_SERVER['HTTP_HOST'] ?? '';
        if (!self::ownHost($host)) {
            $shown = substr(preg_replace('/[^\x21-\x7e]/', '?', $host), 0, 100);
            @file_put_contents('php://stderr', "zoqc-router: refused the requests for host '$shown'"
                . ' (HTTP 421): --serve answers only for ' . getenv('ZOQC_SERVE_HOST')
                . ", localhost and loopback addresses\n");
            return self::refuse(421, 'This development server answers only for its own address.');
        }
        $path = rawurldecode(explode('?', $_SERVER['REQUEST_URI'] ?? '/', 2)[0]);
        if ($path === self::POLL) {
            return self::poll();
        }
        if (preg_match('/[\x00-\x1f\x7f\\\\]/', $path)) {
            return self::refuse(400, 'No page of the site has this address.');
        }
        $segments = array_filter(explode('/', $path), fn($s) => $s !== '' && $s !== '.');
        foreach ($segments as $segment) {
            if (($why = self::hidden($segment)) !== null) {
                return self::refuse(403, $why);
            }
        }
        self::$root = realpath($_SERVER['DOCUMENT_ROOT']);
        $key = implode('/', $segments);
        if (is_dir(self::$root . '/' . $key)) {
            $key = ltrim($key . '/index.php', '/');
        }
        $real = realpath(self::$root . '/' . $key);
        $state = self::state();
        if ($real !== false) {
            // What a link leads to is looked at as what is asked for.
            if ($real !== self::$root && strpos($real, self::$root . '/') !== 0) {
                return self::refuse(403, 'Nothing outside the folder of the site is served.');
            }
            foreach (explode('/', substr($real, strlen(self::$root))) as $segment) {
                if (($why = self::hidden($segment)) !== null) {
                    return self::refuse(403, $why);
                }
            }
            // A hard link to a source is the source under another name.
            $info = @stat($real);
            if ($info !== false && isset($state['sources'][$info['dev'] . ':' . $info['ino']])) {
                return self::refuse(403, 'The sources of the pages (.zoq, .zot) and their copies are not served.');
            }
        }
        $page = $state['pages'][$key] ?? null;
        if ($page === null) {
            return false;
        }
        self::$key = $key;
        self::$version = $page['v'];
        self::$generation = $state['generation'];
        self::$warnings = (string) ($page['warnings'] ?? '');
        if ($page['error'] !== null) {
            http_response_code(500);
            header('Content-Type: text/html; charset=utf-8');
            header('Cache-Control: no-store');
            echo self::withReload($page['error']);
            return true;
        }
        return $real === false ? false : $real;
    }

    // The reload script's question: has the page changed since? Cheap while nothing has.
    public static function poll()
    {
        header('Content-Type: application/json');
        header('Cache-Control: no-store');
        $seen = (int) ($_GET['g'] ?? -1);
        $now = @file_get_contents(getenv('ZOQC_SERVE_DIR') . '/generation');
        if ($now !== false && (int) $now === $seen) {
            echo json_encode(['reload' => false, 'g' => $seen]);
            return true;
        }
        $state = self::state();
        $page = $state['pages'][(string) ($_GET['page'] ?? '')] ?? null;
        $reload = $page === null || $page['v'] !== (int) ($_GET['v'] ?? -1);
        echo json_encode(['reload' => $reload, 'g' => $state['generation']]);
        return true;
    }

    // The script that reloads the page once it is translated again: it waits on zoqc's own
    // listener (ZOQC_RELOAD_PORT), which says so at once (to a tab the browser hides, once the
    // tabs it shows have reloaded), telling it again whenever the tab is shown or hidden. While
    // that cannot be reached (not started, more pages open than the browser keeps connections
    // to one address, a zoqc started since), it asks PHP's server instead.
    public static function reloadScript()
    {
        $flags = JSON_HEX_TAG | JSON_HEX_AMP | JSON_HEX_APOS | JSON_HEX_QUOT;
        $port = (int) getenv('ZOQC_RELOAD_PORT');
        return "<script>/* zoqc --serve: reloads the page when its sources are translated again */\n"
            . '(function(){var page=' . json_encode(self::$key, $flags) . ',v=' . (int) self::$version
            . ',g=' . (int) self::$generation . ',port=' . $port . ',es=null,timer=0,done=false,'
            . 'q="?page="+encodeURIComponent(page)+"&v="+v+"&g=";'
            . "\nfunction reload(){if(!done){done=true;if(es)es.close();location.reload()}}"
            . "\nfunction later(ms){if(!timer&&!done&&!(es&&es.readyState===1))timer=setTimeout(poll,ms)}"
            . "\nfunction poll(){timer=0;if(es&&es.readyState===1)return;fetch(" . json_encode(self::POLL)
            . '+q+g,{cache:"no-store"}).then(function(r){return r.json()})'
            . '.then(function(a){if(a.reload)return reload();g=a.g;later(port?250:50)},function(){later(500)})}'
            . "\nfunction listen(){if(es)es.close();es=new EventSource(location.protocol+\"//\"+location.hostname+"
            . '":"+port+' . json_encode(self::EVENTS) . '+q+g+(document.hidden?"&hidden=1":""));'
            . 'es.onmessage=reload;es.onerror=function(){later(250)}}'
            . "\nif(port){listen();document.addEventListener(\"visibilitychange\",function(){if(!done)listen()});"
            . 'setTimeout(function(){later(0)},1000)}else later(50)})();' . "\n</script>\n";
    }

    // AHtml with AExtra (and the reload script) before its "</body>", else at its end.
    public static function withReload($html, $extra = '')
    {
        $extra .= self::reloadScript();
        $at = strripos($html, '</body>');
        return $at === false ? $html . $extra : substr($html, 0, $at) . $extra . substr($html, $at);
    }

    public static function begin($page)
    {
        $_SERVER['SCRIPT_FILENAME'] = $page;
        $_SERVER['SCRIPT_NAME'] = $_SERVER['PHP_SELF'] = '/' . self::$key;
        chdir(dirname($page));
        set_error_handler([self::class, 'onError']);
        set_exception_handler([self::class, 'onException']);
        register_shutdown_function([self::class, 'finish']);
        self::$level = ob_get_level();
        ob_start();
    }

    public static function onError($type, $message, $file, $line)
    {
        if (!(error_reporting() & $type)) {
            return false; // silenced with @
        }
        if (++self::$count <= self::SHOWN) {
            self::$errors[] = [self::KINDS[$type] ?? 'Error', $message, $file, $line];
        }
        return true;
    }

    public static function onException($e)
    {
        self::$exception = $e;
    }

    // Runs once the page is done, however it ended: its output with the errors over it, or
    // the error page in its place after a fatal error.
    public static function finish()
    {
        $e = self::$exception;
        $last = error_get_last();
        $fatal = $e !== null || ($last !== null && ($last['type'] & self::FATAL));
        if ($e !== null) {
            self::$errors[] = ['Uncaught ' . get_class($e), $e->getMessage(), $e->getFile(), $e->getLine()];
            foreach (array_slice($e->getTrace(), 0, 8) as $frame) {
                if (isset($frame['file'], $frame['line']) && $frame['file'] !== __FILE__) {
                    self::$errors[] = ['called from', ($frame['class'] ?? '') . ($frame['type'] ?? '')
                        . ($frame['function'] ?? '') . '()', $frame['file'], $frame['line']];
                }
            }
        } elseif ($fatal) {
            self::$errors[] = [self::KINDS[$last['type']] ?? 'Fatal error', $last['message'],
                $last['file'], $last['line']];
        }
        while (ob_get_level() > self::$level + 1) {
            ob_end_flush(); // the page's own buffers, into ours
        }
        $out = ob_get_level() > self::$level ? ob_get_clean() : '';
        $type = '';
        foreach (headers_list() as $header) {
            if (stripos($header, 'content-type:') === 0) {
                $type = strtolower($header);
            }
        }
        if ($type !== '' && strpos($type, 'text/html') === false) {
            echo $out; // not a page a script can be added to
            return;
        }
        if ($fatal) {
            if (!headers_sent()) {
                http_response_code(500);
                header('Content-Type: text/html; charset=utf-8');
            }
            echo self::withReload("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>"
                . self::esc(self::$key) . ": PHP stopped</title></head><body>\n"
                . self::panel('PHP stopped while it ran this page', false) . "</body></html>\n",
                self::$warnings);
            return;
        }
        echo self::withReload($out, self::$warnings
            . (self::$errors ? self::panel('PHP said this while it ran the page', true) : ''));
    }

    // The errors, each with PHP's message and the places behind its page line.
    public static function panel($title, $over)
    {
        $html = '<div id="zoqc-php-errors" style="' . ($over
            ? 'position:fixed;left:0;right:0;bottom:0;max-height:60vh;overflow:auto;z-index:2147483647;'
            : '') . 'background:#fff8f6;color:#222;border-top:3px solid #c00;padding:0.8em 1.2em;'
            . 'font:14px/1.4 system-ui,sans-serif;text-align:left">'
            . ($over ? '<button style="float:right" onclick="this.parentNode.remove()">close</button>' : '')
            . '<h2 style="font-size:1.1em;margin:0.2em 0;color:#b00">' . self::esc($title) . "</h2>\n";
        $explained = [];
        foreach (self::$errors as [$kind, $message, $file, $line]) {
            $html .= '<div class="zoqc-php-error"><p style="margin:0.6em 0 0.2em"><b>'
                . self::esc("PHP $kind:") . '</b> ' . self::esc("$message in " . self::shown($file)
                . " on line $line") . "</p>\n";
            $where = "$file:$line:$message";
            if (!isset($explained[$where])) {
                $explained[$where] = true;
                $html .= self::places($file, $line, "PHP $kind:  $message");
            }
            $html .= "</div>\n";
        }
        if (self::$count > self::SHOWN) {
            $html .= '<p>' . self::esc('and ' . (self::$count - self::SHOWN) . ' more warnings and notices') . "</p>\n";
        }
        return $html . "</div>\n";
    }

    // A path as the user knows it: under zoqc's folder, or under the document root.
    public static function shown($path)
    {
        foreach ([getenv('ZOQC_CWD'), self::$root] as $dir) {
            if ($dir && strpos($path, $dir . '/') === 0) {
                return substr($path, strlen($dir) + 1);
            }
        }
        return $path;
    }

    // What zoqc --explain AArgs (with the sources found as this run finds them) says on its
    // standard output, AInput on its standard input.
    public static function explain($args, $input = '')
    {
        $extra = json_decode(getenv('ZOQC_EXPLAIN_ARGS') ?: '[]', true) ?: [];
        $command = array_merge([getenv('ZOQC_BINARY'), '--explain'], $extra, $args);
        $process = proc_open($command, [0 => ['pipe', 'r'], 1 => ['pipe', 'w'],
            2 => ['file', '/dev/null', 'w']], $pipes, getenv('ZOQC_CWD') ?: null);
        if (!is_resource($process)) {
            return '';
        }
        fwrite($pipes[0], $input);
        fclose($pipes[0]);
        $said = stream_get_contents($pipes[1]);
        fclose($pipes[1]);
        proc_close($process);
        return (string) $said;
    }

    // The place --explain reading a log gives the line AMessage, which names page line ALine of
    // the page AReal: "FILE:LINE:COL", or null.
    public static function named($real, $line, $message)
    {
        $said = rtrim(self::explain([], strtr($message, "\r\n", '  ') . " in $real on line $line\n"), "\n");
        return preg_match('/ \[([^\[\]]*:\d+:\d+)\]$/', $said, $m) ? $m[1] : null;
    }

    // The places behind line ALine of AFile, as zoqc --explain gives them, each with its
    // source line and a caret under its column; nothing for a file that is no page of ours.
    // Where the line holds several places and AMessage (PHP's message) names one binding of
    // them, as --explain reading a log tells, that one alone.
    public static function places($file, $line, $message)
    {
        $real = realpath($file);
        if ($real === false || strpos($real, self::$root . '/') !== 0
            || !isset(self::state()['pages'][substr($real, strlen(self::$root) + 1)])) {
            return '';
        }
        $links = explode("\n", rtrim(self::explain(["$real:$line"]), "\n"));
        if (count($links) > 1) {
            $named = self::named($real, $line, $message);
            if ($named !== null && $named !== self::named($real, $line, 'PHP said')) {
                $links = array_values(array_filter($links, fn($link) => strpos($link, "$named: ") === 0))
                    ?: $links;
            }
        }
        $text = '';
        foreach ($links as $link) {
            if (!preg_match('/^(.*):(\d+):(\d+): (.*)$/s', $link, $m)) {
                $text .= self::esc($link) . "\n";
                continue;
            }
            [, $source, $at, $column, $note] = $m;
            $text .= '<b>' . self::esc(self::shown($source) . ":$at:$column:") . '</b> '
                . self::esc($note) . "\n";
            $lines = @file($source);
            if ($lines !== false && isset($lines[$at - 1])) {
                $code = rtrim($lines[$at - 1], "\r\n");
                $gutter = str_pad((string) $at, 5, ' ', STR_PAD_LEFT) . ' | ';
                $text .= self::esc($gutter . $code) . "\n"
                    . str_repeat(' ', 6) . '| ' . self::esc(preg_replace('/[^\t]/', ' ',
                        substr($code, 0, max(0, $column - 1)))) . "<b style=\"color:#c00\">^</b>\n";
            }
        }
        return $text === '' ? '' : '<pre style="background:#fff;border:1px solid #e0c8c8;padding:0.5em;'
            . 'margin:0.2em 0 0.6em;overflow:auto;font:13px/1.4 ui-monospace,monospace">' . $text . "</pre>\n";
    }
}

$zoqc_route = ZoqcServe::route();
if (!is_string($zoqc_route)) {
    return $zoqc_route;
}
ZoqcServe::begin($zoqc_route);
unset($zoqc_route);
include $_SERVER['SCRIPT_FILENAME'];
