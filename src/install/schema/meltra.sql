-- Base de dados Meltra em SQLite: as tabelas e colunas que o utilitário das taxas de IVA usa,
-- com os tipos que têm no SQL Server da aplicação (os preços são decimais com o IVA incluído).
-- A Meltra guarda a taxa de venda em ivavenda e a configuração na tabela config; a coluna iva
-- dos produtos é de outro uso e não muda com as taxas.

CREATE TABLE iva (
    codigo    INTEGER NOT NULL,
    factor    INTEGER NOT NULL,
    descricao VARCHAR(50),
    factor2   INTEGER
);

CREATE TABLE produtos (
    codigo      VARCHAR(20) NOT NULL UNIQUE,
    descricao   VARCHAR(60) NOT NULL DEFAULT '',
    familia     VARCHAR(30),
    unidade     VARCHAR(5),
    iva         INTEGER,
    ivavenda    INTEGER,
    ivacompra   INTEGER,
    precovenda1 DECIMAL(18, 4) NOT NULL DEFAULT 0,
    precovenda2 DECIMAL(18, 4),
    precovenda3 DECIMAL(18, 4),
    precocompra DECIMAL(18, 4) NOT NULL DEFAULT 0,
    validade    DATETIME
);

CREATE TABLE config (
    empresa       VARCHAR(60),
    contribuinte  VARCHAR(9),
    morada        VARCHAR(60),
    casasdecimais INTEGER,
    ivaincluido   INTEGER
);

-- dados de exemplo

-- factor2: a taxa correspondente nas regiões autónomas.
INSERT INTO iva (codigo, factor, descricao, factor2) VALUES
    (0, 0, 'Isento', 0),
    (6, 6, 'Taxa reduzida', 4),
    (13, 13, 'Taxa intermédia', 9),
    (23, 23, 'Taxa normal', 16);

INSERT INTO config (empresa, contribuinte, morada, casasdecimais, ivaincluido)
VALUES ('Supermercado Ribeira, S.A.', '503456789', 'Avenida da Liberdade, 200, Braga', 2, 1);

-- @catalogo: os artigos de exemplo e as suas variantes (catalogo.sql), na tabela base.

INSERT INTO produtos (codigo, descricao, familia, unidade, iva, ivavenda, ivacompra, precovenda1,
                      precovenda2, precovenda3, precocompra, validade)
SELECT printf('M%05d', num), descricao, familia, unidade, taxa, taxa, taxacompra, preco,
       ROUND(preco * 0.95, 2), ROUND(preco * 0.9, 2), ROUND(preco * 0.65, 2), '2025-01-02 09:00:00'
FROM base ORDER BY num;

DROP TABLE base;
DROP TABLE variantes;
DROP TABLE artigos;
